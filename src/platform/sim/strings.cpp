// String routines of kernel32 and the C runtime.
#include <cctype>
#include <cstring>

#include "machine_internal.h"

namespace {

// lstrcmpA compares by the user locale's word sort, not by byte values:
// letters compare alphabetically first ("a" < "B"), case decides only
// between otherwise equal strings (lower case first), punctuation sorts
// before digits and digits before letters, and hyphens and apostrophes are
// ignored unless the strings are otherwise equal.
int Weight(unsigned char c) {
  if (isalpha(c)) return 0x300 + tolower(c);
  if (isdigit(c)) return 0x200 + c;
  return 0x100 + c;
}

int Sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

int CompareWords(const unsigned char* a, const unsigned char* b, bool skip_hyphens) {
  for (;;) {
    if (skip_hyphens) {
      while (*a == '-' || *a == '\'') ++a;
      while (*b == '-' || *b == '\'') ++b;
    }
    if (!*a || !*b) return Sign(static_cast<int>(*a != 0) - static_cast<int>(*b != 0));
    int difference = Weight(*a) - Weight(*b);
    if (difference != 0) return Sign(difference);
    ++a;
    ++b;
  }
}

int CompareCase(const unsigned char* a, const unsigned char* b) {
  for (; *a && *b; ++a, ++b) {
    if (*a == *b) continue;
    if (isalpha(*a) && isalpha(*b) && tolower(*a) == tolower(*b)) return islower(*a) ? -1 : 1;
  }
  return 0;
}

}  // namespace

int lstrcmpA(LPCSTR a, LPCSTR b) {
  // A NULL string sorts before any other, as Windows treats it.
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  const auto* ua = reinterpret_cast<const unsigned char*>(a);
  const auto* ub = reinterpret_cast<const unsigned char*>(b);
  int result = CompareWords(ua, ub, true);
  if (result == 0) result = CompareCase(ua, ub);
  if (result == 0) result = CompareWords(ua, ub, false);
  if (result == 0) result = Sign(strcmp(a, b));
  return result;
}

// A NULL argument makes lstrcatA fail with NULL instead of crashing (the
// system catches the access fault).
LPSTR lstrcatA(LPSTR a, LPCSTR b) {
  if (!a || !b) return nullptr;
  strcat(a, b);
  return a;
}

int lstrlenA(LPCSTR s) { return s ? static_cast<int>(strlen(s)) : 0; }

// In the single-byte code pages a plain byte comparison.
int _mbscmp(const unsigned char* a, const unsigned char* b) {
  int result = strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
  return result < 0 ? -1 : result > 0 ? 1 : 0;
}
