# GNOME and the desktop portals, under headless mutter on a private session bus.
tarnwick_add_test(tst_portal SOURCES tst_portal.cpp PRIVATE_BUS
  LIBS tarnwick_platform_portal tarnwick_platform_fake tarnwick_gnometestlib tarnwick_x11testlib
  tarnwick_testlib LABELS wayland TIMEOUT 180)
target_compile_definitions(tst_portal PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>"
  TARNWICK_GTK_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/waylandtarget/gtk_target.py")
add_dependencies(tst_portal tarnwick)
tarnwick_add_test(tst_gnomekeybindings SOURCES tst_gnomekeybindings.cpp PRIVATE_BUS
  LIBS tarnwick_platform_gnome Qt6::DBus)
