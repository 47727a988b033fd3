# The reset broadcast to 100 subscribed terminals over TCP, alone and beside
# 10 that never answer, against raw sockets carrying the same bytes (a plain
# program that prints its figures and the aims).
if(TARGET kds_server)
  add_executable(bench_channels ${CMAKE_CURRENT_LIST_DIR}/ChannelBench.cpp)
  target_link_libraries(bench_channels PRIVATE kds_server)
endif()
