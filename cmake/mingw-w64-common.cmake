# The part of the mingw-w64 toolchain files that doesn't depend on the target:
# included by mingw-w64-i686.cmake and mingw-w64-x86_64.cmake after they set
# CMAKE_SYSTEM_PROCESSOR and MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)

# The "win32" thread model keeps winpthread (and its imports) out of the
# executable; Debian installs both variants and its alternatives may point at
# either, so ask for it by name when it is there.
find_program(MINGW_CC NAMES ${MINGW_TRIPLET}-gcc-win32 ${MINGW_TRIPLET}-gcc REQUIRED)
find_program(MINGW_CXX NAMES ${MINGW_TRIPLET}-g++-win32 ${MINGW_TRIPLET}-g++ REQUIRED)
find_program(MINGW_RC NAMES ${MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_RC_COMPILER ${MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
