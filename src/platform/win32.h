// The Win32 subset that the setup program calls.
//
// On Windows this is the SDK; elsewhere the simulated machine in platform/sim
// declares the same names, types, constants and structures (ANSI forms) and
// implements them with the behaviour that Windows shows, last-error codes
// included. Code outside platform/sim includes only this header.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winspool.h>
#include <shlwapi.h>
#include <shlobj.h>
#include <mbstring.h>
#else
#include "sim/win32_sim.h"
#endif

// <windows.h> maps CopyFile to CopyFileA; the setup program has a routine of
// that name of its own.
#ifdef CopyFile
#undef CopyFile
#endif

// _mbscmp works on unsigned char strings; the program holds plain char text.
inline int MbsCmp(const char* a, const char* b) {
  return _mbscmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}
