# Row field encoding: the EchoString call row and a 1,000-row block of mixed
# fields, against a memcpy of the same encoded bytes.
kds_add_bench(bench_rows ${CMAKE_CURRENT_LIST_DIR}/RowsBench.cpp)
target_link_libraries(bench_rows PRIVATE kds_data)
