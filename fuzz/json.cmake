# Arbitrary bytes into the JSON parser in both modes, with a byte-form round trip.
kds_add_fuzz(fuzz_json ${CMAKE_CURRENT_LIST_DIR}/JsonFuzz.cpp)
target_link_libraries(fuzz_json PRIVATE kds_data)
