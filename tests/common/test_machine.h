// A fresh simulated machine in a temporary directory, for the tests: set up,
// run the setup program on it, read back what it left.
#pragma once

#include <string>
#include <vector>

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

class TestMachine {
 public:
  // `os` is a machine.ini spelling; `extra` is appended to machine.ini (other
  // keys of [machine] first, then further sections). The clock is virtual and
  // the local time fixed at 2005-01-03 08:05:00 unless `extra` says otherwise.
  explicit TestMachine(const std::string& os = "xp", const std::string& extra = "");
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::string& root() const { return root_; }
  // The host path of a Windows path on the machine's drives (as spelt; no
  // case folding).
  std::string Host(const std::string& windows_path) const;
  void Write(const std::string& windows_path, const std::string& content) const;
  std::string Read(const std::string& windows_path) const;
  bool Exists(const std::string& windows_path) const;
  void Remove(const std::string& windows_path) const;

  // Copies the placeholder product files into `folder` (setup.exe included)
  // and, on 9x systems when `pscript` is set, the system's PostScript driver
  // placeholders into the driver directory.
  void StageProduct(const std::string& folder = "c:\\zentaq", bool pscript = true) const;

  // Runs the setup program with WINSIM_ROOT set to this machine.
  RunResult Setup(const std::vector<std::string>& args = {}, const std::string& input = "") const;
  // Queues message-box answers (ok, cancel, yes, no).
  void Answer(const std::vector<std::string>& answers) const;

  std::string MachineFile(const std::string& name) const;  // "" when missing
  std::string Journal() const { return MachineFile("journal.log"); }
  std::string HiveText() const { return MachineFile("system.reg"); }
  std::string SetupLog() const { return Read("c:\\zentaq\\res\\drivedir\\setup.log"); }
  std::vector<std::string> JournalLines(const std::string& event = "") const;

  // Makes this machine the one of the test process (for direct API calls).
  void Use() const;

 private:
  std::string root_;
};

// Runs a program with arguments and an environment addition; captures output.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env_add,
                     const std::string& input = "");
std::vector<std::string> SplitLines(const std::string& text);
// The descriptors this process has open (a file left open shows here).
int OpenDescriptors();
// Whether a new open of the machine directory `root` (its own lock, as
// another process would have) gets the machine lock at once.
bool OthersCanLock(const std::string& root);
