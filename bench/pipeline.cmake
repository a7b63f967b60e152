# The running product under an X server: start-up, shortcut-to-text latency, idle cost.
#   scripts/with-xvfb.sh build/bench/pipeline_bench [runs]
if(TARGET tarnwick_x11testlib AND TARGET tarnwick_testlib)
  add_executable(pipeline_bench ${CMAKE_CURRENT_LIST_DIR}/pipeline_bench.cpp)
  target_link_libraries(pipeline_bench PRIVATE tarnwick_testlib tarnwick_x11testlib Qt6::Widgets)
  target_compile_definitions(pipeline_bench PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
  add_dependencies(pipeline_bench tarnwick)
endif()
