# tarnwick_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [TIMEOUT <s>]
#                   [PRIVATE_BUS])
#
# One Qt Test executable per unit. Label `unit` runs anywhere (offscreen platform); `x11` needs the
# X server in $DISPLAY (the test script starts Xvfb); `e2e` drives the whole product; `wayland`
# starts a headless compositor itself. PRIVATE_BUS runs the test on a session bus of its own
# (dbus-run-session), with TARNWICK_PRIVATE_BUS=1 so that it can tell.
function(tarnwick_add_test name)
  cmake_parse_arguments(T "PRIVATE_BUS" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  if(T_PRIVATE_BUS)
    add_test(NAME ${name} COMMAND dbus-run-session -- env TARNWICK_PRIVATE_BUS=1 $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set(env "QT_QPA_PLATFORM=offscreen")
  if("x11" IN_LIST T_LABELS OR "e2e" IN_LIST T_LABELS)
    set(env "QT_QPA_PLATFORM=xcb")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}")
  if("x11" IN_LIST T_LABELS OR "e2e" IN_LIST T_LABELS)
    # One display for all of them: its clipboard, focus and key grabs are shared.
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()
