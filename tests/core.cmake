# The correction pipeline: backend client, configuration, text processor, command-line mode.
tarnwick_add_test(tst_apiclient SOURCES tst_apiclient.cpp LIBS tarnwick_app tarnwick_testlib)

tarnwick_add_test(tst_textprocessor SOURCES tst_textprocessor.cpp LIBS tarnwick_app tarnwick_testlib)

tarnwick_add_test(tst_commandline SOURCES tst_commandline.cpp LIBS tarnwick_testlib)
target_compile_definitions(tst_commandline PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
add_dependencies(tst_commandline tarnwick)

tarnwick_add_test(tst_localbackend SOURCES tst_localbackend.cpp LIBS tarnwick_app tarnwick_testlib)
target_compile_definitions(tst_localbackend PRIVATE TARNWICK_BACKEND_BINARY="$<TARGET_FILE:tarnwick-backend>")
add_dependencies(tst_localbackend tarnwick-backend)
