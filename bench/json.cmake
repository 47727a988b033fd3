# JSON value model: parse and byte form, against RapidJSON (header only,
# used here alone) parsing the same bytes into its document.
kds_add_bench(bench_json ${CMAKE_CURRENT_LIST_DIR}/JsonBench.cpp)
target_link_libraries(bench_json PRIVATE kds_data)
