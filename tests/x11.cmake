add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/x11target ${CMAKE_CURRENT_BINARY_DIR}/x11target)

tarnwick_add_test(tst_x11pasteboard SOURCES tst_x11pasteboard.cpp
  LIBS tarnwick_platform_x11 tarnwick_x11testlib LABELS x11)
tarnwick_add_test(tst_x11keystrokes SOURCES tst_x11keystrokes.cpp
  LIBS tarnwick_platform_x11 tarnwick_platform_fake tarnwick_x11testlib LABELS x11)

tarnwick_add_test(tst_e2e SOURCES tst_e2e.cpp LIBS tarnwick_testlib tarnwick_x11testlib LABELS e2e TIMEOUT 300)
target_compile_definitions(tst_e2e PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
add_dependencies(tst_e2e tarnwick)
if(TARGET tarnwick-backend)
  target_compile_definitions(tst_e2e PRIVATE TARNWICK_BACKEND_BINARY="$<TARGET_FILE:tarnwick-backend>")
  add_dependencies(tst_e2e tarnwick-backend)
endif()
tarnwick_add_test(tst_settings_x11 SOURCES tst_settings_x11.cpp
  LIBS tarnwick_app tarnwick_platform_x11 tarnwick_platform_fake tarnwick_testlib tarnwick_x11testlib LABELS x11)
