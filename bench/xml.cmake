# The XML cursor reading an order file the way the intake does, against
# pugixml reading the same values directly.
if(TARGET kds_xml)
  kds_add_bench(bench_xml ${CMAKE_CURRENT_LIST_DIR}/XmlBench.cpp)
  find_package(pugixml REQUIRED)
  target_link_libraries(bench_xml PRIVATE kds_xml pugixml::static)
endif()
