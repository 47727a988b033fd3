# Arbitrary bytes as one order file through the intake: the file is taken in
# whole (one header, every line linked to it, file archived) or not at all.
if(TARGET kds_app)
  kds_add_fuzz(fuzz_intake ${CMAKE_CURRENT_LIST_DIR}/IntakeFuzz.cpp)
  target_link_libraries(fuzz_intake PRIVATE kds_app)
endif()
