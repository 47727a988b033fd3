#!/usr/bin/env bash
# Checks a built kdssv .deb without installing it: its file list (paths,
# modes, owners; nothing more, nothing less), its control fields, the
# dependencies against the libraries the binaries really load, the checksums,
# the desktop entry and icons, and what the maintainer scripts do when run
# against stand-ins for groupadd, getent and dpkg-statoverride (so the
# machine's groups and dpkg database are never touched).
#
# Usage: packaging/check-package.sh build-release/packages/kdssv_<v>_<arch>.deb
# Needs dpkg-deb, file and readelf (dpkg-dev, file, binutils). Exits non-zero
# when any check fails.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PACKAGE.deb (exactly one existing package; got: $*)" >&2
    exit 2
fi
DEB=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

PASSED=0
FAILED=0
# check DESCRIPTION COMMAND...: runs the command; its output is shown when it fails.
check() {
    local what=$1
    shift
    if "$@" >"$WORK/out" 2>&1; then
        PASSED=$((PASSED + 1))
        echo "ok      $what"
    else
        FAILED=$((FAILED + 1))
        echo "FAILED  $what"
        sed 's/^/        /' "$WORK/out"
    fi
}
# same A B: fails with both texts shown when they differ.
same() {
    if [ "$1" != "$2" ]; then
        echo "expected:"; printf '%s\n' "$2" | sed 's/^/  /'
        echo "got:"; printf '%s\n' "$1" | sed 's/^/  /'
        return 1
    fi
}

# --- The file list -------------------------------------------------------

# What the package must hold: path, then mode and owner as dpkg-deb -c shows them.
{
    echo "./opt/kdssv/kdssv -rwxr-xr-x root/root"
    echo "./opt/kdssv/KDS/Before/ drwxr-xr-x root/root"
    echo "./opt/kdssv/KDS/AFTER/ drwxr-xr-x root/root"
    echo "./usr/bin/kdsterm -rwxr-xr-x root/root"
    echo "./usr/share/applications/kdssv.desktop -rw-r--r-- root/root"
    for n in 16 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${n}x${n}/apps/kdssv.png -rw-r--r-- root/root"
    done
    echo "./usr/share/icons/hicolor/scalable/apps/kdssv.svg -rw-r--r-- root/root"
} >"$WORK/leaves"
# ... and every folder above those, root's and 0755.
awk '{ p = $1; sub(/\/$/, "", p);
       while (sub(/\/[^\/]+$/, "", p) && p != ".") print p "/ drwxr-xr-x root/root" }' \
    "$WORK/leaves" >"$WORK/parents"
sort -u "$WORK/leaves" "$WORK/parents" >"$WORK/expected"
dpkg-deb -c "$DEB" | awk '$6 != "./" { print $6, $1, $2 }' | sort >"$WORK/listed"

check "file list: exactly the program, its order folders, the tools, the desktop entry and icons" \
    diff -u "$WORK/expected" "$WORK/listed"

# --- Control fields --------------------------------------------------------

field() { dpkg-deb -f "$DEB" "$1"; }
ARCH=$(dpkg --print-architecture)
DEPENDS=$(field Depends)
# The package names of Depends, one a line (versions and alternatives dropped).
DEP_NAMES=$(printf '%s\n' "$DEPENDS" | tr ',|' '\n\n' | sed 's/(.*)//; s/:.*//; s/ //g' |
    grep -v '^$' | sort -u)

check "Package is kdssv" same "$(field Package)" kdssv
check "Version is a Debian version" \
    grep -Eqx '[0-9][0-9A-Za-z.+~-]*' <<<"$(field Version)"
check "Architecture is the build machine's ($ARCH)" same "$(field Architecture)" "$ARCH"
check "Maintainer has a name and an address" \
    grep -Eqx '[^<]+ <[^@>]+@[^>]+>' <<<"$(field Maintainer)"
check "Section and Priority are set" same "$(field Section) $(field Priority)" "misc optional"
check "Description: a summary, then a long text in control-file form" \
    bash -c 'd=$(dpkg-deb -f "$1" Description)
             [ "$(head -1 <<<"$d")" = "kitchen-display order server" ] &&
             [ "$(sed -n 2p <<<"$d")" != " kitchen-display order server" ] &&
             [ "$(wc -l <<<"$d")" -gt 3 ] &&
             ! tail -n +2 <<<"$d" | grep -Ev "^ [^ ]|^ \.$"' _ "$DEB"
check "Installed-Size is a number of KiB" grep -Eqx '[1-9][0-9]*' <<<"$(field Installed-Size)"
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 passwd; do
    check "Depends names $dep" grep -qx "$dep" <<<"$DEP_NAMES"
done
check "Depends names no pugixml (linked in) and no -dev package" \
    bash -c '! grep -E "pugixml|-dev$" <<<"$1"' _ "$DEP_NAMES"

# --- The binaries and their libraries ---------------------------------------

mkdir -p "$WORK/root" "$WORK/control"
dpkg-deb -x "$DEB" "$WORK/root"
dpkg-deb -e "$DEB" "$WORK/control"

BINARIES=$(cd "$WORK/root" && find . -type f -perm -u+x | sed 's|^\./||' | sort)
for bin in $BINARIES; do
    check "/$bin is a stripped ELF executable" \
        bash -c 'file -b "$1" | grep -E "^ELF .*(executable|shared object)" | grep -qv "not stripped"' \
        _ "$WORK/root/$bin"
    # Every library the binary names directly belongs to a package that
    # Depends names (as installed on this machine, which built it).
    for lib in $(readelf -d "$WORK/root/$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        check "/$bin: $lib comes from a package that Depends names" \
            bash -c 'path=$(ldconfig -p | awk -v l="$1" "\$1 == l { print \$NF; exit }")
                     [ -n "$path" ] || { echo "$1 not found by ldconfig"; exit 1; }
                     owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")" 2>/dev/null ||
                             dpkg -S "/usr$path" 2>/dev/null)
                     owner=${owner%%:*}
                     [ -n "$owner" ] || { echo "no package owns $path"; exit 1; }
                     grep -qx "$owner" <<<"$2" || { echo "$path is in $owner, not in Depends"; exit 1; }' \
            _ "$lib" "$DEP_NAMES"
    done
done

# --- Checksums -------------------------------------------------------------

check "md5sums covers every file and every sum holds" \
    bash -c 'cd "$1/root" &&
             diff <(find . -type f | sed "s|^\./||" | sort) <(awk "{ print \$2 }" "$1/control/md5sums" | sort) &&
             md5sum --quiet -c "$1/control/md5sums"' _ "$WORK"

# --- Desktop entry and icon ------------------------------------------------

DESKTOP=$WORK/root/usr/share/applications/kdssv.desktop
check "desktop entry starts /opt/kdssv/kdssv, which the package holds" \
    bash -c 'grep -qx "Exec=/opt/kdssv/kdssv" "$1" && [ -x "$2/opt/kdssv/kdssv" ]' _ "$DESKTOP" "$WORK/root"
check "desktop entry names the icon kdssv" grep -qx "Icon=kdssv" "$DESKTOP"
if command -v desktop-file-validate >/dev/null; then
    check "desktop entry passes desktop-file-validate" desktop-file-validate "$DESKTOP"
fi
for n in 16 32 48 64 128 256; do
    check "icon ${n}x${n} is a PNG of that size" \
        bash -c 'file -b "$1" | grep -q "^PNG image data, $2 x $2,"' _ \
        "$WORK/root/usr/share/icons/hicolor/${n}x${n}/apps/kdssv.png" "$n"
done

# --- Maintainer scripts ----------------------------------------------------

for script in postinst postrm; do
    check "$script is in the package, mode 0755, and parses" \
        bash -c '[ "$(stat -c %a "$1")" = 755 ] && sh -n "$1"' _ "$WORK/control/$script"
done
check "no other maintainer script (prerm, preinst) is needed" \
    bash -c 'cd "$1" && [ "$(ls | sort | tr "\n" " ")" = "control md5sums postinst postrm " ]' _ "$WORK/control"

# Stand-ins that keep the group and the overrides in $STATE and log every
# change they are asked to make.
STUBS=$WORK/stubs
mkdir -p "$STUBS"
cat >"$STUBS/getent" <<'EOF'
#!/bin/sh
[ "$1 $2" = "group kds" ] && [ -f "$STATE/group" ] && echo "kds:x:999:"
EOF
cat >"$STUBS/groupadd" <<'EOF'
#!/bin/sh
echo "groupadd $*" >>"$STATE/log"
[ ! -f "$STATE/group" ] || { echo "groupadd: group 'kds' already exists" >&2; exit 9; }
touch "$STATE/group"
EOF
cat >"$STUBS/dpkg-statoverride" <<'EOF'
#!/bin/sh
touch "$STATE/overrides"
case "$1" in
--list) grep " $2\$" "$STATE/overrides" ;;
--update)
    shift; shift # --update --add USER GROUP MODE PATH
    echo "statoverride --add $*" >>"$STATE/log"
    ! grep -q " $4\$" "$STATE/overrides" || { echo "an override for $4 already exists" >&2; exit 9; }
    echo "$*" >>"$STATE/overrides" ;;
--remove)
    echo "statoverride --remove $2" >>"$STATE/log"
    grep -v " $2\$" "$STATE/overrides" >"$STATE/overrides.new" || true
    mv "$STATE/overrides.new" "$STATE/overrides" ;;
*) exit 2 ;;
esac
EOF
chmod 755 "$STUBS"/*

# new_state NAME: an empty state. run_script SCRIPT ARGS...: runs the
# package's script against the stand-ins; the log then holds its changes alone.
new_state() { STATE=$WORK/state-$1; rm -rf "$STATE"; mkdir -p "$STATE"; }
run_script() {
    : >"$STATE/log"
    STATE=$STATE PATH="$STUBS:$PATH" sh "$WORK/control/$1" "${@:2}" >"$STATE/out" 2>&1
}
B=/opt/kdssv/KDS/Before
A=/opt/kdssv/KDS/AFTER

new_state fresh
run_script postinst configure
check "postinst on a fresh system makes the group kds and gives both folders root:kds 2775" \
    same "$(cat "$STATE/log")" "groupadd --system kds
statoverride --add root kds 2775 $B
statoverride --add root kds 2775 $A"
run_script postinst configure 0.1.0
check "postinst run again changes nothing" same "$(cat "$STATE/log")" ""
run_script postrm remove
check "postrm remove keeps the group and the folders' mode" same "$(cat "$STATE/log")" ""
run_script postrm purge
check "postrm purge forgets the folders' mode and keeps the group" \
    same "$(cat "$STATE/log"; ls "$STATE")" "statoverride --remove $B
statoverride --remove $A
group
log
out
overrides"

new_state admin
touch "$STATE/group"
echo "root pos 2770 $B" >"$STATE/overrides"
run_script postinst configure
check "postinst keeps an existing group and an administrator's override" \
    same "$(cat "$STATE/log")" "statoverride --add root kds 2775 $A"
run_script postrm purge
check "postrm purge removes only the override postinst made" \
    same "$(cat "$STATE/log"; cat "$STATE/overrides")" "statoverride --remove $A
root pos 2770 $B"

check "postinst refuses an unknown action" bash -c '! STATE=$1 PATH="$2:$PATH" sh "$3" bogus' \
    _ "$STATE" "$STUBS" "$WORK/control/postinst"

echo "package-check: $PASSED passed, $FAILED failed ($(basename "$DEB"))"
[ "$FAILED" -eq 0 ]
