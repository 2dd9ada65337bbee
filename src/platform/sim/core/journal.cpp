// journal.log: one TAB-separated line per side effect that is neither a file
// nor a registry change (message boxes, started processes, pauses, ...).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

std::string JournalEscape(const std::string& field) {
  std::string escaped;
  escaped.reserve(field.size());
  for (char c : field) {
    switch (c) {
      case '\t': escaped += "\\t"; break;
      case '\n': escaped += "\\n"; break;
      case '\\': escaped += "\\\\"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::vector<std::string> JournalFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t') {
      fields.emplace_back();
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      char c = line[++i];
      fields.back() += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

void Journal(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += JournalEscape(fields[i]);
  }
  line += '\n';
  MachineLock lock;
  std::string path = Machine::Get().HostPathOf("journal.log");
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw MachineError("journal.log: cannot be written: " + std::string(strerror(errno)));
  // One write of the whole line: readers never see half of it.
  ssize_t n = write(fd, line.data(), line.size());
  int error = errno;
  close(fd);
  if (n != static_cast<ssize_t>(line.size()))
    throw MachineError("journal.log: cannot be written: " + std::string(n < 0 ? strerror(error) : "short write"));
}

}  // namespace winsim
