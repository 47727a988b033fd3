# Action1 of the main window on the offscreen platform, with both grids
# showing the order book, against the same intake that no grid shows.
if(TARGET kds_ui)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  kds_add_bench(bench_window_intake ${CMAKE_CURRENT_LIST_DIR}/WindowIntakeBench.cpp)
  target_link_libraries(bench_window_intake PRIVATE kds_ui Qt6::Widgets)
endif()
