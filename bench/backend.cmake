# Backend benchmarks: correction latency and per-thread spellers (bench_corrector), correction
# quality on injected typos (bench_quality), grammar on held-out sentences (bench_grammar), time from
# start to the first answer (bench_startup), HTTP throughput and memory (backend-rps.sh, wrk).
if(TARGET tarnwick_corrector)
  add_executable(bench_corrector ${CMAKE_CURRENT_LIST_DIR}/backend/bench_corrector.cpp)
  target_link_libraries(bench_corrector PRIVATE tarnwick_corrector)
  add_executable(bench_quality ${CMAKE_CURRENT_LIST_DIR}/backend/bench_quality.cpp)
  target_link_libraries(bench_quality PRIVATE tarnwick_corrector)
  add_executable(bench_grammar ${CMAKE_CURRENT_LIST_DIR}/backend/bench_grammar.cpp)
  target_link_libraries(bench_grammar PRIVATE tarnwick_corrector)
  # The held-out texts, kept apart from the rule cases of the corrector's tests.
  foreach(bench bench_quality bench_grammar)
    target_compile_definitions(${bench} PRIVATE TARNWICK_BENCH_DATA="${CMAKE_CURRENT_LIST_DIR}/backend/data")
  endforeach()
  set_target_properties(bench_corrector bench_quality bench_grammar PROPERTIES AUTOMOC OFF)
  if(TARGET tarnwick-backend)
    add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/backend/bench_startup.cpp)
    target_compile_definitions(bench_startup PRIVATE TARNWICK_BACKEND_EXECUTABLE="$<TARGET_FILE:tarnwick-backend>")
    add_dependencies(bench_startup tarnwick-backend)
    set_target_properties(bench_startup PROPERTIES AUTOMOC OFF)
  endif()
endif()
