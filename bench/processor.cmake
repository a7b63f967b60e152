# One full correction run of the text processor (fakes, virtual time) against a loopback backend:
#   build/bench/bench_processor [runs]
add_executable(bench_processor ${CMAKE_CURRENT_LIST_DIR}/bench_processor.cpp)
target_link_libraries(bench_processor PRIVATE tarnwick_app tarnwick_testlib)
