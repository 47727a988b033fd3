# Arbitrary bytes decoded as rows of column types taken from the first bytes.
kds_add_fuzz(fuzz_rows ${CMAKE_CURRENT_LIST_DIR}/RowsFuzz.cpp)
target_link_libraries(fuzz_rows PRIVATE kds_data)
