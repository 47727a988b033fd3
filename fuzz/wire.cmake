# Arbitrary bytes through a connection's whole request loop (filter probe,
# codec, request readers, reply writers, error replies, callbacks) with the
# fake connection handler of the wire tests.
kds_add_fuzz(fuzz_wire ${CMAKE_CURRENT_LIST_DIR}/WireFuzz.cpp
             ${PROJECT_SOURCE_DIR}/tests/support/MemoryChannel.cpp
             ${PROJECT_SOURCE_DIR}/tests/support/FakeConnectionHandler.cpp
             ${PROJECT_SOURCE_DIR}/tests/support/WireStack.cpp)
target_include_directories(fuzz_wire PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(fuzz_wire PRIVATE kds_wire)
