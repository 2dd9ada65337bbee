# The Windows build under test: setup.exe cross-compiled with mingw-w64,
# checked without running it (check_exe.py), and run under Wine against the
# POSIX setup on the simulated machine (scenarios.py), in two flavours: 32,
# the product, and 64, a test build of the same sources for x86_64 that
# Wine's 64-bit side runs where the kernel refuses 32-bit code. Included by
# tests/CMakeLists.txt; left out where mingw-w64 or Python is missing, and the
# Wine runs where Wine is missing.
find_program(SETUP_MINGW_CC NAMES i686-w64-mingw32-gcc-win32 i686-w64-mingw32-gcc)
find_program(SETUP_MINGW_OBJDUMP NAMES i686-w64-mingw32-objdump)
find_program(SETUP_MINGW64_CC NAMES x86_64-w64-mingw32-gcc-win32 x86_64-w64-mingw32-gcc)
find_program(SETUP_PYTHON NAMES python3)
if(NOT SETUP_MINGW_CC OR NOT SETUP_MINGW_OBJDUMP OR NOT SETUP_MINGW64_CC OR NOT SETUP_PYTHON)
  message(STATUS "Windows build tests left out: needs i686-w64-mingw32-gcc, -objdump, "
                 "x86_64-w64-mingw32-gcc and python3")
  return()
endif()

# setup.exe of each flavour, built from the same tree with its toolchain file.
include(ExternalProject)
set(WINE_SRC ${CMAKE_CURRENT_SOURCE_DIR}/wine)
foreach(bits 32 64)
  if(bits EQUAL 32)
    set(toolchain mingw-w64-i686.cmake)
    set(suffix "")
    set(cc ${SETUP_MINGW_CC})
  else()
    set(toolchain mingw-w64-x86_64.cmake)
    set(suffix 64)
    set(cc ${SETUP_MINGW64_CC})
  endif()
  ExternalProject_Add(setup_windows${suffix}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows${suffix}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}
               -DCMAKE_BUILD_TYPE=Release
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(SETUP_EXE_${bits} ${CMAKE_BINARY_DIR}/windows${suffix}/setup.exe)

  # The Windows helpers of the tests, in the flavour's bitness (Wine's
  # spooler loads the monitor and the UI module into setup.exe's process):
  # the folder reporter, the test port monitor and the test UI module.
  set(helpers ${CMAKE_CURRENT_BINARY_DIR}/wine/${bits})
  set(WINE_HELPERS_${bits} ${helpers})
  add_custom_command(OUTPUT ${helpers}/dirs.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cc} -O2 -Wall -Werror -o ${helpers}/dirs.exe ${WINE_SRC}/probes/dirs.c -lwinspool
    DEPENDS ${WINE_SRC}/probes/dirs.c)
  add_custom_command(OUTPUT ${helpers}/ztqmon.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cc} -O2 -Wall -Wextra -Werror -shared -static-libgcc -Wl,--kill-at
            -o ${helpers}/ztqmon.dll ${WINE_SRC}/monitor/test_monitor.c
    DEPENDS ${WINE_SRC}/monitor/test_monitor.c)
  add_custom_command(OUTPUT ${helpers}/ztqui.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cc} -O2 -Wall -Wextra -Werror -shared -static-libgcc -Wl,--kill-at
            -o ${helpers}/ztqui.dll ${WINE_SRC}/driver_ui/test_ui.c
    DEPENDS ${WINE_SRC}/driver_ui/test_ui.c)
  # The launcher that reports setup.exe's whole exit status, and the
  # program that stands in for the ones setup starts.
  add_custom_command(OUTPUT ${helpers}/launcher.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cc} -O2 -Wall -Wextra -Werror -static-libgcc -o ${helpers}/launcher.exe ${WINE_SRC}/programs/launcher.c
    DEPENDS ${WINE_SRC}/programs/launcher.c)
  add_custom_command(OUTPUT ${helpers}/started.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cc} -O2 -Wall -Wextra -Werror -mwindows -static-libgcc -o ${helpers}/started.exe
            ${WINE_SRC}/programs/started.c
    DEPENDS ${WINE_SRC}/programs/started.c)
  # The listing of what the spooler answers, run after every step on both
  # sides (the POSIX one below).
  string(REPLACE "-gcc" "-g++" cxx ${cc})
  add_custom_command(OUTPUT ${helpers}/spoolview.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cxx} -std=c++17 -O2 -Wall -Wextra -Werror -static -I${CMAKE_SOURCE_DIR}/src
            -o ${helpers}/spoolview.exe ${WINE_SRC}/programs/spoolview.cpp -lwinspool
    DEPENDS ${WINE_SRC}/programs/spoolview.cpp ${WINE_SRC}/programs/view_main.h)
  # And what the calls setup makes outside the spooler answer.
  add_custom_command(OUTPUT ${helpers}/callview.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cxx} -std=c++17 -O2 -Wall -Wextra -Werror -static -I${CMAKE_SOURCE_DIR}/src
            -o ${helpers}/callview.exe ${WINE_SRC}/programs/callview.cpp ${WINE_SRC}/programs/callview_files.cpp
            -lshlwapi -lwinspool
    DEPENDS ${WINE_SRC}/programs/callview.cpp ${WINE_SRC}/programs/callview_files.cpp
            ${WINE_SRC}/programs/callview.h ${WINE_SRC}/programs/view_main.h ${CMAKE_SOURCE_DIR}/src/app/names.h)
  add_custom_command(OUTPUT ${helpers}/trouble.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${helpers}
    COMMAND ${cxx} -std=c++17 -O2 -Wall -Wextra -Werror -static -I${CMAKE_SOURCE_DIR}/src
            -o ${helpers}/trouble.exe ${WINE_SRC}/programs/trouble.cpp -lwinspool
    DEPENDS ${WINE_SRC}/programs/trouble.cpp ${WINE_SRC}/programs/callview.h ${WINE_SRC}/programs/view_main.h)
  add_custom_target(wine_helpers_${bits} ALL
    DEPENDS ${helpers}/dirs.exe ${helpers}/ztqmon.dll ${helpers}/ztqui.dll ${helpers}/launcher.exe
            ${helpers}/started.exe ${helpers}/spoolview.exe ${helpers}/callview.exe ${helpers}/trouble.exe)
endforeach()
# The probe of Wine's answers (probes/README.md), 32-bit as the product.
add_custom_command(OUTPUT ${WINE_HELPERS_32}/probe.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${WINE_HELPERS_32}
  COMMAND ${SETUP_MINGW_CC} -O2 -Wall -Werror -o ${WINE_HELPERS_32}/probe.exe ${WINE_SRC}/probes/probe.c
          -lwinspool -lshlwapi
  DEPENDS ${WINE_SRC}/probes/probe.c)
add_custom_target(wine_probe ALL DEPENDS ${WINE_HELPERS_32}/probe.exe)

add_test(NAME windows_exe_audit
  COMMAND ${SETUP_PYTHON} ${WINE_SRC}/check_exe.py ${SETUP_EXE_32} --objdump ${SETUP_MINGW_OBJDUMP})
add_test(NAME wine_harness_selftest
  COMMAND ${SETUP_PYTHON} -m unittest test_harness test_comparison
  WORKING_DIRECTORY ${WINE_SRC})

find_program(SETUP_WINE NAMES wine)
if(NOT SETUP_WINE OR NOT TARGET winsim)
  message(STATUS "Wine runs left out: needs wine and the winsim tool")
  return()
endif()

# The spooler listing over the simulated machine (WINSIM_ROOT).
add_executable(spoolview ${WINE_SRC}/programs/spoolview.cpp)
target_link_libraries(spoolview PRIVATE winsim_machine)
add_executable(callview ${WINE_SRC}/programs/callview.cpp ${WINE_SRC}/programs/callview_files.cpp)
target_link_libraries(callview PRIVATE winsim_machine)
add_executable(trouble ${WINE_SRC}/programs/trouble.cpp)
target_link_libraries(trouble PRIVATE winsim_machine)

# One prefix template per flavour for the whole test run (Wine's first start
# is slow), then each scenario in a fresh copy of it. The 32-bit flavour
# skips (77, with the reason printed) where the kernel runs no 32-bit
# programs.
set(WINE_WORK ${CMAKE_BINARY_DIR}/wine-runs)
execute_process(COMMAND ${SETUP_PYTHON} ${WINE_SRC}/scenarios.py list
  OUTPUT_VARIABLE WINE_SCENARIOS OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "scenarios.py list failed (${listed})")
endif()
string(REPLACE "\n" ";" WINE_SCENARIOS "${WINE_SCENARIOS}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WINE_SRC}/scenarios.py)
foreach(bits 32 64)
  add_test(NAME wine_prefix_templates_${bits}
    COMMAND ${SETUP_PYTHON} ${WINE_SRC}/scenarios.py templates --bits ${bits} --work ${WINE_WORK}
            --dirs-exe ${WINE_HELPERS_${bits}}/dirs.exe)
  set_tests_properties(wine_prefix_templates_${bits} PROPERTIES
    FIXTURES_SETUP wine_templates_${bits} TIMEOUT 3000 SKIP_RETURN_CODE 77 LABELS wine)
  foreach(scenario ${WINE_SCENARIOS})
    add_test(NAME wine_${scenario}_${bits}
      COMMAND ${SETUP_PYTHON} ${WINE_SRC}/scenarios.py run ${scenario} --bits ${bits} --work ${WINE_WORK}
              --setup-exe ${SETUP_EXE_${bits}} --sim-setup $<TARGET_FILE:setup> --sim-spoolview $<TARGET_FILE:spoolview>
              --sim-callview $<TARGET_FILE:callview> --sim-trouble $<TARGET_FILE:trouble> --winsim $<TARGET_FILE:winsim>
              --product ${CMAKE_SOURCE_DIR}/product --monitor-dll ${WINE_HELPERS_${bits}}/ztqmon.dll
              --ui-dll ${WINE_HELPERS_${bits}}/ztqui.dll)
    set_tests_properties(wine_${scenario}_${bits} PROPERTIES
      FIXTURES_REQUIRED wine_templates_${bits} TIMEOUT 3000 SKIP_RETURN_CODE 77 LABELS wine)
  endforeach()
endforeach()
