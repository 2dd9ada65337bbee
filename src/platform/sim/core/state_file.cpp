// state.ini: the machine's running state, one section per owner ([loaded]
// for the held monitor libraries, [spooler] for the spooler service). Each
// owner rewrites its own section and keeps the others as they are.
#include <sstream>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

namespace {

std::string StatePath() { return Machine::Get().HostPathOf("state.ini"); }

// state.ini's text as last read or written under the lock of `generation`:
// while this process holds that lock, nobody else can have changed it.
struct StateCache {
  std::string path;
  unsigned long long generation = 0;
  std::string text;
};

StateCache& TheCache() {
  static StateCache* cache = new StateCache;
  return *cache;
}

std::string ReadStateUnderLock();

std::string ReadState() {
  // A program that keeps the lock reads under it, and so from the cache.
  if (KeepsLockBetweenCalls()) {
    MachineLock lock;
    return ReadStateUnderLock();
  }
  return ReadStateUnderLock();
}

// (or without it, when the caller has none: then always from the file)
std::string ReadStateUnderLock() {
  StateCache& cache = TheCache();
  std::string path = StatePath();
  unsigned long long generation = LockGeneration(Machine::Get().root());
  if (generation != 0 && generation == cache.generation && cache.path == path) return cache.text;
  std::string text;
  ReadWholeFile(path, &text);  // none yet: empty
  cache.path = path;
  cache.generation = generation;
  cache.text = text;
  return text;
}

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
  std::istringstream in(ReadState());
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
  std::istringstream in(ReadState());
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
  StateCache& cache = TheCache();
  cache.generation = 0;  // unknown should the write fail
  WriteFileAtomic(StatePath(), own + others);
  cache.path = StatePath();
  cache.text = own + others;
  cache.generation = LockGeneration(Machine::Get().root());
}

}  // namespace winsim
