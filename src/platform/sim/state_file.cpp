// state.ini: the machine's running state, one section per owner ([loaded]
// for the held monitor libraries, [spooler] for the spooler service). Each
// owner rewrites its own section and keeps the others as they are.
#include <sstream>

#include "machine.h"

namespace winsim {

namespace {

std::string StatePath() { return Machine::Get().HostPathOf("state.ini"); }

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "[name]" of a section line, compared without regard to case.
bool IsSectionLine(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == '['; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

std::vector<std::string> ReadStateSection(const std::string& section) {
  std::vector<std::string> lines;
  std::string text;
  if (!ReadWholeFile(StatePath(), &text)) return lines;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    std::string trimmed = Trim(line);
    if (IsSectionLine(trimmed)) {
      inside = SameName(trimmed, "[" + section + "]");
      continue;
    }
    if (inside && !trimmed.empty() && trimmed[0] != ';') lines.push_back(trimmed);
  }
  return lines;
}

void WriteStateSection(const std::string& section, const std::vector<std::string>& lines) {
  std::string text;
  ReadWholeFile(StatePath(), &text);
  std::istringstream in(text);
  std::string line;
  std::string others;
  bool inside = false;
  while (std::getline(in, line)) {
    std::string trimmed = Trim(line);
    if (IsSectionLine(trimmed)) inside = SameName(trimmed, "[" + section + "]");
    if (!inside) others += line + "\n";
  }
  std::string own;
  if (!lines.empty()) {
    own = "[" + section + "]\n";
    for (const std::string& l : lines) own += l + "\n";
    if (!others.empty()) own += "\n";
  }
  WriteFileAtomic(StatePath(), own + others);
}

}  // namespace winsim
