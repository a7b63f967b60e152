# The Debian package built from this tree, checked as it is installed (needs the whole tree built).
if(NOT TARNWICK_SANITIZE)
  add_test(NAME tst_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/check_package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(tst_package PROPERTIES LABELS package TIMEOUT 900)
endif()
