# The Windows build under test: setup.exe cross-compiled with mingw-w64,
# checked without running it (check_exe.py), and run under Wine against the
# POSIX setup on the simulated machine (scenarios.py). Included by
# tests/CMakeLists.txt; left out where mingw-w64 or Python is missing, and the
# Wine runs where Wine is missing.
find_program(SETUP_MINGW_CC NAMES i686-w64-mingw32-gcc-win32 i686-w64-mingw32-gcc)
find_program(SETUP_MINGW_OBJDUMP NAMES i686-w64-mingw32-objdump)
find_program(SETUP_PYTHON NAMES python3)
if(NOT SETUP_MINGW_CC OR NOT SETUP_MINGW_OBJDUMP OR NOT SETUP_PYTHON)
  message(STATUS "Windows build tests left out: needs i686-w64-mingw32-gcc, -objdump and python3")
  return()
endif()

# setup.exe, built from the same tree with the toolchain file.
include(ExternalProject)
set(SETUP_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(setup_windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${SETUP_WINDOWS_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
             -DCMAKE_BUILD_TYPE=Release
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")
set(SETUP_EXE ${SETUP_WINDOWS_DIR}/setup.exe)

# The Windows helpers of the tests: the folder reporter, the probes and the
# test port monitor.
set(WINE_HELPERS ${CMAKE_CURRENT_BINARY_DIR}/wine)
set(WINE_SRC ${CMAKE_CURRENT_SOURCE_DIR}/wine)
add_custom_command(OUTPUT ${WINE_HELPERS}/dirs.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${WINE_HELPERS}
  COMMAND ${SETUP_MINGW_CC} -O2 -Wall -Werror -o ${WINE_HELPERS}/dirs.exe ${WINE_SRC}/probes/dirs.c -lwinspool
  DEPENDS ${WINE_SRC}/probes/dirs.c)
add_custom_command(OUTPUT ${WINE_HELPERS}/probe.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${WINE_HELPERS}
  COMMAND ${SETUP_MINGW_CC} -O2 -Wall -Werror -o ${WINE_HELPERS}/probe.exe ${WINE_SRC}/probes/probe.c
          -lwinspool -lshlwapi
  DEPENDS ${WINE_SRC}/probes/probe.c)
add_custom_command(OUTPUT ${WINE_HELPERS}/ztqmon.dll
  COMMAND ${CMAKE_COMMAND} -E make_directory ${WINE_HELPERS}
  COMMAND ${SETUP_MINGW_CC} -O2 -Wall -Wextra -Werror -shared -static-libgcc -Wl,--kill-at
          -o ${WINE_HELPERS}/ztqmon.dll ${WINE_SRC}/monitor/test_monitor.c
  DEPENDS ${WINE_SRC}/monitor/test_monitor.c)
add_custom_target(wine_helpers ALL
  DEPENDS ${WINE_HELPERS}/dirs.exe ${WINE_HELPERS}/probe.exe ${WINE_HELPERS}/ztqmon.dll)

add_test(NAME windows_exe_audit
  COMMAND ${SETUP_PYTHON} ${WINE_SRC}/check_exe.py ${SETUP_EXE} --objdump ${SETUP_MINGW_OBJDUMP})
add_test(NAME wine_harness_selftest
  COMMAND ${SETUP_PYTHON} -m unittest test_harness
  WORKING_DIRECTORY ${WINE_SRC})

find_program(SETUP_WINE NAMES wine)
if(NOT SETUP_WINE OR NOT TARGET winsim)
  message(STATUS "Wine runs left out: needs wine and the winsim tool")
  return()
endif()

# One prefix template per Windows version for the whole test run (Wine's
# first start is slow), then each scenario in a fresh copy of it.
set(WINE_WORK ${CMAKE_BINARY_DIR}/wine-runs)
add_test(NAME wine_prefix_templates
  COMMAND ${SETUP_PYTHON} ${WINE_SRC}/scenarios.py templates --work ${WINE_WORK}
          --dirs-exe ${WINE_HELPERS}/dirs.exe)
set_tests_properties(wine_prefix_templates PROPERTIES
  FIXTURES_SETUP wine_templates TIMEOUT 3000 SKIP_RETURN_CODE 77)
foreach(scenario install_xp install_98 uninstall_xp)
  add_test(NAME wine_${scenario}
    COMMAND ${SETUP_PYTHON} ${WINE_SRC}/scenarios.py run ${scenario} --work ${WINE_WORK}
            --setup-exe ${SETUP_EXE} --sim-setup $<TARGET_FILE:setup> --winsim $<TARGET_FILE:winsim>
            --product ${CMAKE_SOURCE_DIR}/product --monitor-dll ${WINE_HELPERS}/ztqmon.dll)
  set_tests_properties(wine_${scenario} PROPERTIES
    FIXTURES_REQUIRED wine_templates TIMEOUT 3000 SKIP_RETURN_CODE 77)
endforeach()
