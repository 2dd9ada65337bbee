// winsim answer and winsim reboot: small changes of a machine's state.
#include <algorithm>
#include <cctype>
#include <iostream>

#include "commands.h"

namespace winsim_tool {

int Answer(const std::string& dir, const std::vector<std::string>& answers) {
  std::vector<std::string> words;
  for (std::string word : answers) {
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (word != "ok" && word != "cancel" && word != "yes" && word != "no")
      throw ToolError("unknown answer '" + word + "' (one of ok, cancel, yes, no); nothing queued");
    words.push_back(word);
  }
  OpenMachineDir(dir);
  std::string path = winsim::Machine::Get().HostPathOf("answers");
  {
    // The setup program takes answers from this file under the same lock.
    winsim::MachineLock lock;
    std::string queued;
    winsim::ReadWholeFile(path, &queued);
    if (!queued.empty() && queued.back() != '\n') queued += '\n';
    for (const auto& word : words) queued += word + "\n";
    winsim::WriteFileAtomic(path, queued);
  }
  std::cout << "queued " << words.size() << " answer" << (words.size() == 1 ? "" : "s") << std::endl;
  return 0;
}

int Reboot(const std::string& dir) {
  OpenMachineDir(dir);
  winsim::Reboot();
  std::cout << "rebooted " << dir << std::endl;
  return 0;
}

}  // namespace winsim_tool
