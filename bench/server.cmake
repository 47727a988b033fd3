# In-process EchoString calls through the in-process connection and through
# the connection handler with a ready request, against a direct call of the
# same method body in the same run.
if(TARGET kds_server)
  kds_add_bench(bench_server ${CMAKE_CURRENT_LIST_DIR}/ServerBench.cpp)
  target_link_libraries(bench_server PRIVATE kds_server)
endif()
