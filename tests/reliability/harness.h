// What the reliability tests share: runs of the setup program that can't
// hang (a time limit) and can be killed at a chosen moment, copies of
// prepared machines, and the checks that every run must pass whatever it
// did: no crash, no sanitizer report, machine files whole.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace rel {

struct Outcome {
  int status = -1;         // exit status; -1 when killed by a signal
  int signal = 0;          // the signal that ended it, or 0
  bool timed_out = false;  // killed by the time limit
  std::string out;
  std::string err;
};

// Starts the setup program on machine `root` with standard input from
// /dev/null; output goes to files read back by Finish.
struct Child {
  pid_t pid = -1;
  std::string out_path;
  std::string err_path;
};
Child Start(const std::string& root, const std::vector<std::string>& args,
            const std::vector<std::string>& env_add = {});
// Waits for the child, killing it once `limit_ms` have passed; `poll`, when
// given, is called about every 100 microseconds meanwhile.
Outcome Finish(Child child, int limit_ms = 60000, const std::function<void()>& poll = nullptr);
Outcome RunSetup(const std::string& root, const std::vector<std::string>& args = {},
                 const std::vector<std::string>& env_add = {}, int limit_ms = 60000);

// True when standard error holds a report of AddressSanitizer, LeakSanitizer
// or UndefinedBehaviorSanitizer.
bool HasSanitizerReport(const std::string& err);

// Machines in temporary folders.
std::string NewTempDir(const std::string& tag);
std::string CopyTree(const std::string& from, const std::string& tag);
void RemoveTree(const std::string& path);

// A fresh machine of `os` (machine.ini spelling) with the virtual clock, a
// fixed time and the product staged in c:\zentaq (on 9x with the system's
// PostScript driver files). `extra` is appended to [machine].
std::string FreshMachine(const std::string& os, const std::string& extra = "");

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
void AppendFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);

// The host path of the setup log of machine `root`.
std::string LogPath(const std::string& root);

// The texts of a setup log, without their time stamps. Every line must be
// whole: a 15-character stamp "MM-DD-YY: HH:MM", a text, CR LF; a line that
// isn't is reported in *bad (the first one found).
std::vector<std::string> LogTexts(const std::string& log, std::string* bad = nullptr);
// True when `text` is one of the program's log texts, with its value.
bool IsKnownLogText(const std::string& text);

// Journal lines that are not whole (no line end, unknown event, wrong
// number of fields), the first one found; "" when all are.
std::string BadJournalLine(const std::string& journal);

// "" when system.reg of `root` parses, else the parser's message.
std::string HiveError(const std::string& root);

// The hive of `root` as sorted lines "key path, value name, type, bytes",
// names lower-cased: two hives that hold the same keys and values give the
// same text whatever order they were created in.
std::string SortedHive(const std::string& root);

// The texts of the message boxes in a journal, in order.
std::vector<std::string> BoxTexts(const std::string& journal);

// The test name of a scenario parameter: its `name` with '-' as '_', since
// test names hold only letters, digits and underscores.
struct ScenarioName {
  template <class Info>
  std::string operator()(const Info& info) const {
    std::string name = info.param.name;
    for (char& c : name)
      if (c == '-') c = '_';
    return name;
  }
};

}  // namespace rel
