# EchoString over TCP against a raw TCP echo server of the same shape
# (Google Benchmark, ratios printed), and the load runs of the TCP server
# (idle cost, 1000 x 100 calls, resetting peers, stop with 500 connections;
# a plain program that prints its figures).
if(TARGET kds_server)
  kds_add_bench(bench_tcp ${CMAKE_CURRENT_LIST_DIR}/TcpBench.cpp)
  target_link_libraries(bench_tcp PRIVATE kds_server)
  add_executable(bench_tcp_load ${CMAKE_CURRENT_LIST_DIR}/TcpLoad.cpp)
  target_link_libraries(bench_tcp_load PRIVATE kds_server)
endif()
