# The backend's tests: the corrector directly, the server over real HTTP on 127.0.0.1, the
# upstream path against a fake OpenAI-compatible server, and the executable as a child process.
set(backend_test_dir ${CMAKE_CURRENT_LIST_DIR})
tarnwick_add_test(tst_corrector SOURCES ${backend_test_dir}/tst_corrector.cpp
  ${backend_test_dir}/BackendTestSupport.h LIBS tarnwick_backend_server)
tarnwick_add_test(tst_backendserver SOURCES ${backend_test_dir}/tst_backendserver.cpp
  ${backend_test_dir}/BackendTestSupport.h LIBS tarnwick_backend_server)
tarnwick_add_test(tst_upstream SOURCES ${backend_test_dir}/tst_upstream.cpp
  ${backend_test_dir}/BackendTestSupport.h LIBS tarnwick_backend_server)
tarnwick_add_test(tst_backendprocess SOURCES ${backend_test_dir}/tst_backendprocess.cpp
  ${backend_test_dir}/BackendTestSupport.h LIBS tarnwick_backend_server Qt6::Network)
target_compile_definitions(tst_backendprocess PRIVATE
  TARNWICK_BACKEND_EXECUTABLE="$<TARGET_FILE:tarnwick-backend>")
add_dependencies(tst_backendprocess tarnwick-backend)
