# Start-up of the installed program to ready, with the bundled backend: bash bench/startup.sh
if(TARGET tarnwick_x11testlib)
  add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
  target_link_libraries(startup_bench PRIVATE tarnwick_x11testlib Qt6::Network)
endif()
