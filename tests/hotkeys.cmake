# The settings file, the hot-key service and the Hotkeys namespace.
tarnwick_add_test(tst_settingsuserdefaults SOURCES tst_settingsuserdefaults.cpp LIBS tarnwick_platform)
