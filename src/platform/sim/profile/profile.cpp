// kernel32's profile (INI file) routines on the machine's drives; the
// IniFileMapping redirection of the NT family is in profile_mapping.cpp.
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine.h"
#include "platform/sim/profile/profile_mapping.h"
#include "platform/sim/files/files.h"

using winsim::Machine;

namespace winsim {
namespace profile {

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = s.find_last_not_of(" \t");
  return s.substr(begin, end - begin + 1);
}

// --- copying into the caller's buffer --------------------------------------------

// One string: cut to size - 1 characters and NUL terminated, as Windows does.
DWORD CopyString(const std::string& value, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  size_t n = value.size() < size - 1 ? value.size() : size - 1;
  memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// A list of names, each NUL terminated, with a NUL after the last. When it
// doesn't fit, Windows cuts it, ends it with two NULs and returns size - 2.
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  std::string all;
  for (const std::string& n : names) all += n + '\0';
  if (all.size() + 1 <= size) {
    memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = '\0';
    return static_cast<DWORD>(all.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  memcpy(buffer, all.data(), size - 2);
  buffer[size - 2] = buffer[size - 1] = '\0';
  return size - 2;
}

// --- where the profile lives ------------------------------------------------------

// A bare file name means a file in the Windows directory.
std::string FullPath(const std::string& file) {
  if (file.find_first_of("\\/:") == std::string::npos) return std::string(Machine::Get().os().windows) + "\\" + file;
  return file;
}

std::string FileName(const std::string& path) {
  size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace profile
}  // namespace winsim

using winsim::profile::CopyList;
using winsim::profile::CopyString;
using winsim::profile::FullPath;
using winsim::profile::Trim;
using winsim::profile::FlushMapping;
using winsim::profile::GetMapped;
using winsim::profile::Mapping;
using winsim::profile::WriteMapped;

namespace {

// --- the file as lines -------------------------------------------------------------

struct Line {
  std::string text;  // without the line end
  std::string end;   // "\r\n", "\n" or "" (the last line)
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed
  bool has_value = false;
};

std::vector<Line> ParseIni(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = text.substr(pos);
      pos = text.size();
    } else {
      line.text = text.substr(pos, nl - pos);
      line.end = "\n";
      pos = nl + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end = "\r" + line.end;
    }
    std::string trimmed = Trim(line.text);
    size_t close = trimmed.rfind(']');
    if (!trimmed.empty() && trimmed[0] == '[' && close != std::string::npos) {
      line.kind = Line::kSection;
      line.name = Trim(trimmed.substr(1, close - 1));
    } else if (!trimmed.empty()) {
      line.kind = Line::kKey;
      size_t eq = trimmed.find('=');
      line.name = Trim(trimmed.substr(0, eq));
      if (eq != std::string::npos) {
        line.has_value = true;
        line.value = Trim(trimmed.substr(eq + 1));
      }
    }
    lines.push_back(line);
  }
  return lines;
}

std::string JoinIni(const std::vector<Line>& lines) {
  std::string text;
  for (const Line& line : lines) text += line.text + line.end;
  return text;
}

// The first section of that name: [begin, end) are its lines after the header.
bool FindSection(const std::vector<Line>& lines, const std::string& section, size_t* header, size_t* end) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::kSection || !winsim::EqualNoCase(lines[i].name, section)) continue;
    *header = i;
    size_t j = i + 1;
    while (j < lines.size() && lines[j].kind != Line::kSection) ++j;
    *end = j;
    return true;
  }
  return false;
}

// A value held in matching quotes is given without them.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

// --- the file -------------------------------------------------------------------------

BOOL WriteProfile(LPCSTR section_arg, LPCSTR key_arg, LPCSTR value, LPCSTR file) {
  // All three NULL flushes the system's cached copy; documented to return FALSE.
  if (!section_arg && !key_arg && !value) {
    FlushMapping(file);
    return FALSE;
  }
  if (!section_arg) {
    // No section: Windows 2000 and later answer ERROR_FILE_NOT_FOUND, NT 4.0
    // and earlier ERROR_INVALID_PARAMETER, 9x leaves the last error alone
    // (Wine's profile tests, which run on each).
    if (winsim::NtBefore2000()) SetLastError(ERROR_INVALID_PARAMETER);
    else if (winsim::NtFamily()) SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (!file) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string path = FullPath(file);
  std::string section = Trim(section_arg);
  std::string key = key_arg ? Trim(key_arg) : "";
  std::string map_key;
  if (Mapping(path, section.c_str(), &map_key)) return WriteMapped(map_key, key, value, !key_arg);

  winsim::MachineLock lock;
  winsim::ResolvedPath where = winsim::Resolve(path);
  if (where.exists && !where.is_dir && winsim::IsReadOnly(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::string text;
  if (where.exists && !where.is_dir) winsim::ReadWholeFile(where.host, &text);
  std::vector<Line> lines = ParseIni(text);
  size_t header = 0, end = 0;
  bool found = FindSection(lines, section, &header, &end);
  if (!key_arg || !value) {
    // Deleting what is not there succeeds and leaves the file alone.
    if (!found) return TRUE;
    if (!key_arg) {
      lines.erase(lines.begin() + static_cast<long>(header), lines.begin() + static_cast<long>(end));
    } else {
      bool removed = false;
      for (size_t i = end; i-- > header + 1;) {
        if (lines[i].kind == Line::kKey && winsim::EqualNoCase(lines[i].name, key)) {
          lines.erase(lines.begin() + static_cast<long>(i));
          removed = true;
        }
      }
      if (!removed) return TRUE;
    }
  } else {
    Line line;
    line.kind = Line::kKey;
    line.name = key;
    line.end = "\r\n";
    size_t at = 0;
    bool replaced = false;
    if (found) {
      at = header + 1;
      for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind != Line::kKey) continue;
        if (winsim::EqualNoCase(lines[i].name, key)) {
          // The key keeps its spelling; only its value changes.
          lines[i].text = lines[i].name + "=" + value;
          replaced = true;
          break;
        }
        at = i + 1;  // a new key goes after the last key of the section
      }
    }
    if (!found) {
      Line head;
      head.kind = Line::kSection;
      head.text = "[" + section + "]";
      head.end = "\r\n";
      lines.push_back(head);
      at = lines.size();
    }
    if (!replaced) {
      line.text = key + "=" + value;
      lines.insert(lines.begin() + static_cast<long>(at), line);
    }
    // A line in the middle of the file must end before the next one starts;
    // a last line that ended in a lone CR has no line feed yet.
    for (size_t i = 0; i + 1 < lines.size(); ++i)
      if (lines[i].end != "\n" && lines[i].end != "\r\n") lines[i].end = "\r\n";
  }
  std::string updated = JoinIni(lines);
  if (where.exists && updated == text) return TRUE;
  if (!where.parent_ok) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (where.is_dir) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  winsim::WriteFileAtomic(where.host, updated);
  winsim::NoteEntry(where.host, true);  // a file of a drive: the folder listings learn of it
  return TRUE;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size,
                               LPCSTR file) {
  // The default loses its trailing blanks, as Windows documents.
  std::string fallback = default_value ? default_value : "";
  fallback.erase(fallback.find_last_not_of(' ') + 1);
  DWORD code;
  if (winsim::Fault("GetPrivateProfileStringA", &code)) {
    DWORD n = CopyString(fallback, buffer, size);
    SetLastError(code);
    return n;
  }
  if (!file) return CopyString(fallback, buffer, size);
  std::string path = FullPath(file);
  std::string map_key;
  if (section && Mapping(path, section, &map_key)) return GetMapped(map_key, key, fallback, buffer, size);

  winsim::ResolvedPath where = winsim::Resolve(path);
  std::string text;
  if (!where.exists || where.is_dir || !winsim::ReadWholeFile(where.host, &text)) {
    DWORD n = section && key ? CopyString(fallback, buffer, size) : CopyList({}, buffer, size);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return n;
  }
  std::vector<Line> lines = ParseIni(text);
  if (!section) {
    std::vector<std::string> names;
    for (const Line& line : lines)
      if (line.kind == Line::kSection) names.push_back(line.name);
    return CopyList(names, buffer, size);
  }
  size_t header = 0, end = 0;
  bool found = FindSection(lines, Trim(section), &header, &end);
  if (!key) {
    std::vector<std::string> names;
    for (size_t i = header + 1; found && i < end; ++i)
      if (lines[i].kind == Line::kKey) names.push_back(lines[i].name);
    return CopyList(names, buffer, size);
  }
  for (size_t i = header + 1; found && i < end; ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::kKey && line.has_value && winsim::EqualNoCase(line.name, Trim(key)))
      return CopyString(Unquote(line.value), buffer, size);
  }
  return CopyString(fallback, buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  DWORD code;
  if (winsim::Fault("WritePrivateProfileStringA", &code)) {
    SetLastError(code);
    return FALSE;
  }
  return WriteProfile(section, key, value, file);
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  DWORD code;
  if (winsim::Fault("WritePrivateProfileStringW", &code)) {
    SetLastError(code);
    return FALSE;
  }
  // The 9x family exports the wide function as a stub that only fails.
  if (!Machine::Get().os().nt_family) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  // The wide strings in the ANSI code page, as Windows' wide call hands
  // them to the file.
  std::string s = section ? winsim::AnsiText(section) : "";
  std::string k = key ? winsim::AnsiText(key) : "";
  std::string v = value ? winsim::AnsiText(value) : "";
  std::string f = file ? winsim::AnsiText(file) : "";
  return WriteProfile(section ? s.c_str() : nullptr, key ? k.c_str() : nullptr, value ? v.c_str() : nullptr,
                      file ? f.c_str() : nullptr);
}
