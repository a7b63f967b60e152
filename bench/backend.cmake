# Backend benchmarks: correction latency and per-thread spellers (bench_corrector), correction
# quality on injected typos (bench_quality), HTTP throughput and memory (backend-rps.sh, wrk).
if(TARGET tarnwick_corrector)
  add_executable(bench_corrector ${CMAKE_CURRENT_LIST_DIR}/backend/bench_corrector.cpp)
  target_link_libraries(bench_corrector PRIVATE tarnwick_corrector)
  add_executable(bench_quality ${CMAKE_CURRENT_LIST_DIR}/backend/bench_quality.cpp)
  target_link_libraries(bench_quality PRIVATE tarnwick_corrector)
  set_target_properties(bench_corrector bench_quality PROPERTIES AUTOMOC OFF)
endif()
