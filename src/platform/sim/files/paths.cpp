// Windows paths on the machine's drives: c:\a\b is <root>/drive_c/a/b.
// Drive letters and components match case-insensitively (Windows file
// systems preserve case but ignore it), '\' and '/' both separate, and a
// path without a drive is on the current drive, c:.
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"

namespace winsim {

namespace {

bool IsDirectory(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folders listed under the current lock generation of the machine
// directory (see LockGeneration): no other process changes them while it
// lasts, and this one tells each entry it adds or removes (NoteEntry).
struct Listings {
  std::string root;
  unsigned long long generation = 0;
  std::map<std::string, std::vector<std::string>> names;  // host folder -> its entries
};

Listings& TheListings() {
  static Listings* listings = new Listings;
  return *listings;
}

// The cached listings valid now for `root`, or null when the lock isn't held.
Listings* CurrentListings(const std::string& root) {
  unsigned long long generation = LockGeneration(root);
  if (generation == 0) return nullptr;
  Listings& listings = TheListings();
  if (listings.generation != generation || listings.root != root) {
    listings.names.clear();
    listings.root = root;
    listings.generation = generation;
  }
  return &listings;
}

// The entries of `folder`, read with getdents64 straight (opendir adds an
// fstat to each listing); false when it can't be read.
bool ReadFolder(const std::string& folder, std::vector<std::string>* names) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  alignas(8) char buffer[32768];
  for (;;) {
    long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      std::string stored = entry->d_name;
      if (stored != "." && stored != "..") names->push_back(stored);
    }
  }
  close(fd);
  return true;
}

// The entries of the folder `folder` of machine `root`, from the listing
// taken under the current lock when there is one.
const std::vector<std::string>* FolderEntries(const std::string& root, const std::string& folder,
                                              std::vector<std::string>* scratch) {
  Listings* listings = CurrentListings(root);
  if (listings) {
    auto known = listings->names.find(folder);
    if (known != listings->names.end()) return &known->second;
  }
  scratch->clear();
  if (!ReadFolder(folder, scratch)) return nullptr;
  if (!listings) return scratch;
  return &(listings->names[folder] = std::move(*scratch));
}

// The names in `folder` that differ from `name` at most in case.
std::vector<std::string> CaseVariants(const std::string& root, const std::string& folder, const std::string& name) {
  std::vector<std::string> matches, scratch;
  if (const std::vector<std::string>* entries = FolderEntries(root, folder, &scratch))
    for (const std::string& stored : *entries)
      if (SameTextNoCase(stored, name)) matches.push_back(stored);
  return matches;
}

bool IsListed(const std::string& root, const std::string& folder) {
  Listings* listings = CurrentListings(root);
  return listings && listings->names.count(folder) != 0;
}

// The stored name of `name` in the host folder `folder`: the exact spelling
// first, else the first entry (in name order) that differs only in case.
// With `exact_missing` the caller knows that no entry has the exact spelling
// but a dangling link, which the listing shows as well.
std::string FindEntry(const std::string& root, const std::string& folder, const std::string& name,
                      bool exact_missing = false) {
  struct stat st;
  if (!exact_missing && lstat((folder + "/" + name).c_str(), &st) == 0) return name;
  std::vector<std::string> matches = CaseVariants(root, folder, name);
  if (matches.empty()) return "";
  if (std::find(matches.begin(), matches.end(), name) != matches.end()) return name;
  std::sort(matches.begin(), matches.end());
  return matches.front();
}

std::string DriveFolder(const std::string& root, char drive) {
  return root + "/drive_" + std::string(1, drive);
}

}  // namespace

WindowsPath ParseWindowsPath(const std::string& windows_path) {
  WindowsPath path;
  std::string rest = windows_path;
  if (rest.size() >= 2 && rest[1] == ':' && isalpha(static_cast<unsigned char>(rest[0]))) {
    path.drive = static_cast<char>(tolower(static_cast<unsigned char>(rest[0])));
    rest = rest.substr(2);
  }
  std::string part;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == '\\' || rest[i] == '/') {
      // Win32 drops the trailing dots and blanks of a path's last element
      // ("readme.html. " opens readme.html), and one trailing dot of a
      // folder before it ("c:\\test.\\file" is c:\\test\\file, as XP does it):
      // the "Trim characters" rules of Microsoft's "File path formats on
      // Windows systems", and collapse_path in Wine's ntdll/path.c, with
      // its tests of RtlGetFullPathName_U. A separator after the last
      // element keeps it whole.
      if (part != "." && part != "..") {
        if (i == rest.size()) {
          while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        } else if (!part.empty() && part.back() == '.') {
          part.pop_back();
        }
      }
      if (part == "..") {
        if (!path.parts.empty()) path.parts.pop_back();
      } else if (!part.empty() && part != ".") {
        path.parts.push_back(part);
      }
      part.clear();
    } else {
      part += rest[i];
    }
  }
  return path;
}

// A path spelled exactly as stored needs no search: one stat of the whole
// path, or of its folder when only the last component is missing or spelled
// in another case. Where that doesn't settle it, the walk below does.
namespace {

bool ResolveExact(const std::string& root, const WindowsPath& path, ResolvedPath* resolved) {
  std::string folder = DriveFolder(root, path.drive);
  for (size_t i = 0; i + 1 < path.parts.size(); ++i) folder += "/" + path.parts[i];
  std::string whole = path.parts.empty() ? folder : folder + "/" + path.parts.back();
  struct stat st;
  if (stat(whole.c_str(), &st) == 0) {
    if (path.parts.empty() && !S_ISDIR(st.st_mode)) return false;
    resolved->host = whole;
    resolved->exists = true;
    resolved->parent_ok = true;
    resolved->is_dir = S_ISDIR(st.st_mode);
    return true;
  }
  // A folder listed under this lock is there still.
  if (errno != ENOENT || path.parts.empty() || !(IsListed(root, folder) || IsDirectory(folder))) return false;
  // The folder is there; the last name may be stored in another case.
  std::string stored = FindEntry(root, folder, path.parts.back(), true);
  resolved->host = folder + "/" + (stored.empty() ? path.parts.back() : stored);
  resolved->parent_ok = true;
  resolved->exists = !stored.empty();
  resolved->is_dir = resolved->exists && IsDirectory(resolved->host);
  return true;
}

}  // namespace

ResolvedPath ResolveOn(const std::string& root, const std::string& windows_path) {
  WindowsPath path = ParseWindowsPath(windows_path);
  ResolvedPath resolved;
  if (ResolveExact(root, path, &resolved)) return resolved;
  std::string current = DriveFolder(root, path.drive);
  auto rest_from = [&](size_t first) {
    std::string rest;
    for (size_t i = first; i < path.parts.size(); ++i) rest += "/" + path.parts[i];
    return rest;
  };
  if (!IsDirectory(current)) {  // no such drive
    resolved.host = current + rest_from(0);
    return resolved;
  }
  for (size_t i = 0; i < path.parts.size(); ++i) {
    bool last = i + 1 == path.parts.size();
    std::string stored = FindEntry(root, current, path.parts[i]);
    if (stored.empty()) {
      resolved.host = current + rest_from(i);
      resolved.parent_ok = last;
      return resolved;
    }
    current += "/" + stored;
    if (!last && !IsDirectory(current)) {
      resolved.host = current + rest_from(i + 1);
      return resolved;
    }
  }
  resolved.host = current;
  resolved.exists = true;
  resolved.parent_ok = true;
  resolved.is_dir = IsDirectory(current);
  return resolved;
}

void NoteEntry(const std::string& host_path, bool present) {
  Listings& listings = TheListings();
  size_t slash = host_path.rfind('/');
  if (slash == std::string::npos) return;
  if (!present) {  // a folder moved or removed takes the listings below it along
    std::string below = host_path + "/";
    for (auto it = listings.names.lower_bound(below);
         it != listings.names.end() && it->first.compare(0, below.size(), below) == 0;)
      it = listings.names.erase(it);
    listings.names.erase(host_path);
  }
  auto known = listings.names.find(host_path.substr(0, slash));
  if (known == listings.names.end()) return;
  std::string name = host_path.substr(slash + 1);
  std::vector<std::string>& names = known->second;
  auto it = std::find(names.begin(), names.end(), name);
  if (present && it == names.end()) names.push_back(name);
  if (!present && it != names.end()) names.erase(it);
}

ResolvedPath Resolve(const std::string& windows_path) { return ResolveOn(Machine::Get().root(), windows_path); }

std::string CanonicalPath(const std::string& windows_path) {
  WindowsPath path = ParseWindowsPath(windows_path);
  std::string canonical = std::string(1, path.drive) + ":";
  for (const std::string& part : path.parts) canonical += "\\" + LowerAscii(part);
  if (path.parts.empty()) canonical += "\\";
  return canonical;
}

DWORD GivenAttributes(const std::string& windows_path) {
  std::string canonical = CanonicalPath(windows_path);
  DWORD attributes = 0;
  for (const auto& given : Machine::Get().settings().attributes)
    if (CanonicalPath(given.first) == canonical) attributes |= given.second;
  return attributes;
}

bool IsReadOnly(const std::string& windows_path) {
  return (GivenAttributes(windows_path) & FILE_ATTRIBUTE_READONLY) != 0;
}

void MakeFolders(const std::string& root, const std::string& windows_folder) {
  WindowsPath path = ParseWindowsPath(windows_folder);
  std::string current = DriveFolder(root, path.drive);
  std::string exact = current;
  for (const std::string& part : path.parts) exact += "/" + part;
  if (IsDirectory(exact)) return;  // there already, spelled as given
  if (mkdir(current.c_str(), 0755) != 0 && errno != EEXIST)
    throw MachineError(current + ": cannot create the folder: " + strerror(errno));
  for (const std::string& part : path.parts) {
    std::string stored = FindEntry(root, current, part);
    current += "/" + (stored.empty() ? part : stored);
    if (stored.empty() && mkdir(current.c_str(), 0755) != 0 && errno != EEXIST)
      throw MachineError(current + ": cannot create the folder: " + strerror(errno));
    if (stored.empty()) NoteEntry(current, true);
  }
}

bool HasInvalidNameCharacter(const std::string& windows_path) {
  WindowsPath path = ParseWindowsPath(windows_path);
  for (const std::string& part : path.parts)
    for (char c : part)
      if (strchr("<>:\"|?*", c) || static_cast<unsigned char>(c) < 32) return true;
  return false;
}


}  // namespace winsim
