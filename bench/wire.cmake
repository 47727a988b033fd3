# One connection's request loop over an in-memory channel: an EchoString
# prepare+execute pair and a 64 KB byte block, against RapidJSON's parse of
# the same JSON plus one copy of the bytes.
kds_add_bench(bench_wire ${CMAKE_CURRENT_LIST_DIR}/WireBench.cpp)
target_link_libraries(bench_wire PRIVATE kds_wire)
