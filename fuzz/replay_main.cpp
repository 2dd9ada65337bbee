// Runs a fuzz target's checks over the files of the folders given, without
// libFuzzer: the seed corpus and the inputs of earlier findings replay as
// ordinary tests in every build.
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(argv[i])) {
      while (struct dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::string data = fuzz::ReadHostFile(std::string(argv[i]) + "/" + name);
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
      ++replayed;
    }
  }
  printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
