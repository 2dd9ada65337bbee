// String routines of kernel32 and the C runtime.
#include <cctype>
#include <cstring>

#include "platform/sim/core/machine_internal.h"

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

// Code page 1252 is Latin-1 but for 0x80-0x9F, which hold typographic
// characters instead of the C1 controls; of those controls only the five
// bytes that 1252 leaves unassigned map back to themselves.
const struct {
  char16_t wide;
  char byte;
} kTypographic[] = {{0x0081, '\x81'}, {0x008D, '\x8D'}, {0x008F, '\x8F'}, {0x0090, '\x90'}, {0x009D, '\x9D'},
                    {0x02C6, '\x88'}, {0x02DC, '\x98'}, {0x2013, '\x96'}, {0x2014, '\x97'},
                    {0x2018, '\x91'}, {0x2019, '\x92'}, {0x201A, '\x82'}, {0x201C, '\x93'}, {0x201D, '\x94'},
                    {0x201E, '\x84'}, {0x2020, '\x86'}, {0x2021, '\x87'}, {0x2022, '\x95'}, {0x2026, '\x85'},
                    {0x2030, '\x89'}, {0x2039, '\x8B'}, {0x203A, '\x9B'}, {0x20AC, '\x80'}, {0x2122, '\x99'}};

// U+0100-U+01FF (Latin Extended-A, most of Extended-B) by Windows' best fit
// for 1252: the letter without its accent, the eight that 1252 has (U+0152,
// U+0153, U+0160, U+0161, U+0178, U+017D, U+017E, U+0192) as themselves, '?'
// where nothing fits. From U+0200 on nothing of these blocks fits.
const char kBestFit[] =
    "AaAaAaCcCcCcCcDd" "\xD0" "dEeEeEeEeEeGgGg" "GgGgHhHhIiIiIiIi" "Ii??JjKk?LlLlLl?"   // U+0100
    "?LlNnNnNn???OoOo" "Oo\x8C\x9CRrRrRrSsSsSs" "\x8A\x9ATtTtTtUuUuUuUu" "UuUuWwYy\x9FZzZz\x8E\x9E?"  // U+0140
    "b????????\xD0??????" "?\x83\x83????I??l????O" "Oo?????????t??TU" "u?????z?????????"  // U+0180
    "|?\?!?????????AaI" "iOoUuUuUuUuUu?Aa" "????GgGgKkOoOo??" "j???????????????";  // U+01C0

char AnsiChar(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return static_cast<char>(c);
  if (c >= 0x100 && c < 0x200) return kBestFit[c - 0x100];
  for (const auto& entry : kTypographic)
    if (entry.wide == c) return entry.byte;
  return '?';  // the code page's default character
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

// WideCharToMultiByte(CP_ACP) on a US English system. Best fit covers the
// Latin letters up to U+01FF; the rest of Unicode outside 1252 becomes '?'
// here, where Windows' best fit table also maps a few more (fullwidth forms,
// typographic spaces, modifier letters).
std::string winsim::AnsiText(LPCWSTR text) {
  std::string out;
  for (; *text; ++text) out += AnsiChar(*text);
  return out;
}
