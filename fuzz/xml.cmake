# Arbitrary text into the XML cursor, then paths through MoveTo and AddNode.
if(TARGET kds_xml)
  kds_add_fuzz(fuzz_xml ${CMAKE_CURRENT_LIST_DIR}/XmlFuzz.cpp)
  target_link_libraries(fuzz_xml PRIVATE kds_xml)
endif()
