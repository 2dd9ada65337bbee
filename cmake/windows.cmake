# The Windows build: setup.exe for 32-bit Windows 95/98/Me and NT 4.0/2000/XP,
# on the real Win32 API. Included by the top-level CMakeLists.txt when the
# target system is Windows (the mingw-w64 toolchain file sets that).
enable_language(RC)

# Declare nothing newer than Windows 95 / NT 4.0, so that a call the oldest
# systems lack fails at compile time rather than at load time there.
target_compile_definitions(setup_core PUBLIC WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_IE=0x0400)

add_executable(setup WIN32 src/app/main.cpp src/app/resources/setup.rc)
target_link_libraries(setup PRIVATE setup_core)
# The runtime is linked in so that setup.exe needs nothing but system DLLs.
target_link_options(setup PRIVATE
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,4,--minor-subsystem-version,0
  -Wl,--major-os-version,4,--minor-os-version,0)
target_link_libraries(setup PRIVATE winspool shlwapi shell32 advapi32 user32 kernel32)

# The resources name the icon file; rebuild them when it changes.
set_source_files_properties(src/app/resources/setup.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/resources/setup.ico)
