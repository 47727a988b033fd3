# Install rules and the Debian package (CPack), included from the root
# CMakeLists.txt once every target exists.
#
# The install tree is the package's file system, rooted at the install
# prefix (the package's root is "/"):
#
#   opt/kdssv/kdssv                       the program
#   opt/kdssv/KDS/Before, opt/kdssv/KDS/AFTER
#                                         the order folders, beside the program,
#                                         where the intake looks for them
#   usr/bin/kdsterm                       the terminal tool, on the PATH
#   usr/share/applications/kdssv.desktop  the desktop entry
#   usr/share/icons/hicolor/...           its icon
#
# So `cmake --install build-release --prefix /tmp/stage` stages the package's
# tree; the desktop entry names the program by its installed path,
# /opt/kdssv/kdssv, whatever the prefix.
#
# `make package` builds the .deb, `make package-check` checks it
# (packaging/check-package.sh).

if(NOT TARGET kdssv)
  return() # a build without the window has no program to install
endif()

set(KDS_PACKAGE_VERSION "0.1.0" CACHE STRING "Version of the Debian package")

set(KDS_INSTALL_PROGRAM_DIR opt/kdssv)
set(KDS_INSTALL_BIN_DIR usr/bin)
set(KDS_INSTALL_SHARE_DIR usr/share)
set(KDS_INSTALLED_PROGRAM /${KDS_INSTALL_PROGRAM_DIR}/kdssv)
set(KDS_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# Folders the rules make get this mode, whatever the builder's umask; the
# maintainer script gives the two order folders their group and mode.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The programs the package holds, built by `make run` and by `make package`
# before cpack (which builds nothing itself).
add_custom_target(kds_programs)
add_dependencies(kds_programs kdssv)

install(TARGETS kdssv RUNTIME DESTINATION ${KDS_INSTALL_PROGRAM_DIR})
install(DIRECTORY DESTINATION ${KDS_INSTALL_PROGRAM_DIR}/KDS/Before)
install(DIRECTORY DESTINATION ${KDS_INSTALL_PROGRAM_DIR}/KDS/AFTER)

install(TARGETS kdsterm RUNTIME DESTINATION ${KDS_INSTALL_BIN_DIR})
add_dependencies(kds_programs kdsterm)

configure_file(${KDS_PACKAGING_DIR}/kdssv.desktop.in ${CMAKE_CURRENT_BINARY_DIR}/kdssv.desktop
               @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kdssv.desktop
        DESTINATION ${KDS_INSTALL_SHARE_DIR}/applications)
foreach(size IN ITEMS 16 32 48 64 128 256)
  install(FILES ${KDS_PACKAGING_DIR}/icons/kdssv-${size}.png
          DESTINATION ${KDS_INSTALL_SHARE_DIR}/icons/hicolor/${size}x${size}/apps
          RENAME kdssv.png)
endforeach()
install(FILES ${KDS_PACKAGING_DIR}/icons/kdssv.svg
        DESTINATION ${KDS_INSTALL_SHARE_DIR}/icons/hicolor/scalable/apps)

# --- The Debian package ---
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME kdssv)
set(CPACK_PACKAGE_VERSION ${KDS_PACKAGE_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "kitchen-display order server")
# The long description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kdssv sits beside a restaurant's point-of-sale software. It takes in the
order files dropped into /opt/kdssv/KDS/Before, shows them in two linked
grids and archives them into /opt/kdssv/KDS/AFTER, and serves the kitchen
terminals on TCP port 16000. kdsterm talks to the server from a shell.

Members of the group kds may drop order files into /opt/kdssv/KDS/Before.")
set(CPACK_PACKAGE_CONTACT "kdssv maintainers <kdssv@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the binaries need (Qt, the C and C++ runtimes) are
# read off the binaries by dpkg-shlibdeps; pugixml is linked in and needs no
# package. The maintainer script's groupadd comes from passwd.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KDS_PACKAGING_DIR}/debian/postinst
                                       ${KDS_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
