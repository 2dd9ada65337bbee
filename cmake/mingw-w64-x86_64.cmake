# The test build of setup.exe for 64-bit Windows, with Debian's mingw-w64
# (package g++-mingw-w64-x86-64), for Wine's 64-bit side (wine64), which runs
# where the kernel refuses 32-bit code. The product is the 32-bit build
# (mingw-w64-i686.cmake); this one differs from it only where the target
# decides (the spooler environment of a 64-bit process, "Windows x64").
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win64 -j2
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
