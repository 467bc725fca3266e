# Install step of the Mac app bundle (resources/CMakeLists.txt), run by cpack:
# macdeployqt copies Qt's frameworks and plugins into the installed bundle and
# points the executable at them, then the whole bundle is signed ad hoc, which
# Apple silicon requires of every executable it runs. FERROWICK_APP and
# FERROWICK_MACDEPLOYQT are set by the install step before this one.
if(NOT IS_DIRECTORY "${FERROWICK_APP}")
  message(FATAL_ERROR "No app bundle at ${FERROWICK_APP}")
endif()
message(STATUS "macdeployqt ${FERROWICK_APP}")
execute_process(COMMAND "${FERROWICK_MACDEPLOYQT}" "${FERROWICK_APP}" COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "codesign --force --deep -s - ${FERROWICK_APP}")
execute_process(COMMAND /usr/bin/codesign --force --deep -s - "${FERROWICK_APP}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND /usr/bin/codesign --verify --deep --strict "${FERROWICK_APP}" COMMAND_ERROR_IS_FATAL ANY)
