# Tables and long values through the wire codec: a 100,000-row table streamed
# and read back, a 10 MB long value served and fetched with more_blob, each
# against a memcpy of the same bytes, with the server side's peak heap while
# the table streams.
kds_add_bench(bench_streaming ${CMAKE_CURRENT_LIST_DIR}/StreamingBench.cpp)
target_link_libraries(bench_streaming PRIVATE kds_wire)
