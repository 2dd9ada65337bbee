// winsim init: a fresh machine, built in a hidden folder beside DIR and
// renamed into place, so that a failure leaves nothing behind.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "commands.h"

namespace fs = std::filesystem;

namespace winsim_tool {

namespace {

bool IsEmptyDirectory(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (!d) return false;
  bool empty = true;
  while (dirent* entry = readdir(d)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(d);
  return empty;
}

// Copies the contents of `from` into the existing or new folder `to`.
void CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (!ec) fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) throw ToolError("cannot copy " + from + " to " + to + ": " + ec.message());
}

// 95, 98 and Me: their PostScript driver files lie in the driver directory.
bool IsWin9x(winsim::Os os) { return !winsim::InfoOf(os).nt_family && os != winsim::Os::Win32s; }

void StageProduct(const std::string& product_dir, const winsim::Settings& settings) {
  std::string zentaq = winsim::Resolve("c:\\zentaq").host;
  CopyTree(product_dir + "/zentaq", zentaq);
  // The uninstall command line names c:\zentaq\setup.exe: the folder holds
  // the setup program as on a real installation medium.
  if (!IsFile(zentaq + "/setup.exe")) winsim::WriteFileAtomic(zentaq + "/setup.exe", "placeholder of setup.exe\n");
  if (IsWin9x(settings.os))
    CopyTree(product_dir + "/pscript9x", winsim::Resolve(winsim::InfoOf(settings.os).driver_dir).host);
}

}  // namespace

int Init(const std::string& os_name, bool product, const std::string& dir) {
  winsim::Os os;
  if (!winsim::ParseOs(os_name, &os)) {
    std::string names;
    for (const auto& info : winsim::AllOses()) names += (names.empty() ? "" : ", ") + std::string(info.name);
    throw ToolError("unknown --os '" + os_name + "' (one of " + names + ")");
  }
  std::string root = AbsolutePath(dir);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st;
  bool exists = lstat(root.c_str(), &st) == 0;
  if (exists) {
    if (!S_ISDIR(st.st_mode)) throw ToolError(dir + ": exists and is not a directory");
    if (IsFile(root + "/machine.ini")) throw ToolError(dir + ": already a machine");
    if (!IsEmptyDirectory(root)) throw ToolError(dir + ": not empty and not a machine; choose a new or empty folder");
  }
  std::string product_dir;
  if (product) {
    product_dir = ProductDir();
    if (!IsDirectory(product_dir + "/zentaq"))
      throw ToolError("no product files at " + product_dir + "/zentaq (set WINSIM_PRODUCT_DIR)");
    if (IsWin9x(os) && !IsDirectory(product_dir + "/pscript9x"))
      throw ToolError("no PostScript driver placeholders at " + product_dir + "/pscript9x (set WINSIM_PRODUCT_DIR)");
  }

  size_t slash = root.rfind('/');
  std::string parent = slash == 0 ? "/" : root.substr(0, slash);
  std::error_code ec;
  fs::create_directories(parent, ec);
  if (ec) throw ToolError("cannot create " + parent + ": " + ec.message());
  std::string pattern = parent + "/." + root.substr(slash + 1) + ".init-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw ToolError("cannot create a folder in " + parent + ": " + strerror(errno));
  std::string staging = buffer.data();
  try {
    chmod(staging.c_str(), 0755);
    winsim::WriteFileAtomic(staging + "/machine.ini",
                            "[machine]\nos = " + std::string(winsim::InfoOf(os).name) + "\n");
    winsim::EnsureMachine(staging);
    if (product) {
      winsim::Settings settings = OpenMachineDir(staging);
      StageProduct(product_dir, settings);
    }
    // Replaces an empty folder at the same name, as rename(2) allows.
    if (rename(staging.c_str(), root.c_str()) != 0)
      throw ToolError("cannot create " + dir + ": " + strerror(errno));
  } catch (...) {
    fs::remove_all(staging, ec);
    throw;
  }
  std::cout << "made a machine of system " << winsim::InfoOf(os).name << " in " << dir
            << (product ? ", with the product in c:\\zentaq" : "") << std::endl;
  return 0;
}

}  // namespace winsim_tool
