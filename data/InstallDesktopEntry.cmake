# Writes the desktop entry at install time, with the program's absolute path in the installed tree.
# Set before: TARNWICK_DESKTOP_ENTRY_IN (the template), TARNWICK_DESKTOP_ENTRY and TARNWICK_PROGRAM
# (both relative to the prefix).
set(program "${CMAKE_INSTALL_PREFIX}/${TARNWICK_PROGRAM}")
# The Exec key quotes an argument with blanks; these characters would need escapes as well.
if(program MATCHES "[\"`$\\\\]")
  message(FATAL_ERROR "The desktop entry cannot name a program whose path holds \", `, $ or \\: ${program}")
endif()
if(program MATCHES "[ \t]")
  set(program "\"${program}\"")
endif()
set(TARNWICK_EXEC "${program}")
set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TARNWICK_DESKTOP_ENTRY}")
message(STATUS "Installing: ${entry}")
configure_file("${TARNWICK_DESKTOP_ENTRY_IN}" "${entry}" @ONLY)
