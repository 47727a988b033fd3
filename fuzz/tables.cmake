# Arbitrary bytes as the tables a terminal sends with an execute and as its
# answers to the server's "next" and "more_blob" while they are read, over a
# connection's whole stack with the fake connection handler of the wire
# tests.
kds_add_fuzz(fuzz_tables ${CMAKE_CURRENT_LIST_DIR}/TablesFuzz.cpp
             ${PROJECT_SOURCE_DIR}/tests/support/MemoryChannel.cpp
             ${PROJECT_SOURCE_DIR}/tests/support/FakeConnectionHandler.cpp
             ${PROJECT_SOURCE_DIR}/tests/support/WireStack.cpp)
target_include_directories(fuzz_tables PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(fuzz_tables PRIVATE kds_wire)
