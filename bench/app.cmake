# One intake of 10,000 order files into the order book, against loading each
# file with pugixml and moving it the same way; and the memory of a book of
# 100,000 lines.
if(TARGET kds_app)
  kds_add_bench(bench_intake ${CMAKE_CURRENT_LIST_DIR}/IntakeBench.cpp)
  find_package(pugixml REQUIRED)
  target_link_libraries(bench_intake PRIVATE kds_app pugixml::static)
endif()
