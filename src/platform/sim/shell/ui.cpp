// Message boxes. Each box is shown on standard error as "caption: text" and
// journalled; its answer is the first queued line of `answers` (removed as
// it is taken), else asked on a terminal, else the box's default button.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/sim/core/machine_internal.h"

namespace {

constexpr UINT kButtons = 0x0000000Fu;

bool AnswerOf(const std::string& word, int* answer) {
  std::string lower = winsim::LowerAscii(word);
  if (lower == "ok") *answer = IDOK;
  else if (lower == "cancel") *answer = IDCANCEL;
  else if (lower == "yes") *answer = IDYES;
  else if (lower == "no") *answer = IDNO;
  else return false;
  return true;
}

// What closing the box without a choice gives: OK for an OK box, No for a
// Yes/No box (which can't be cancelled), Cancel where there is a Cancel.
int DefaultAnswer(UINT type) {
  switch (type & kButtons) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
  }
}

const char* Choices(UINT type) {
  switch (type & kButtons) {
    case MB_OK: return "ok";
    case MB_OKCANCEL: return "ok/cancel";
    case MB_YESNO: return "yes/no";
    case MB_YESNOCANCEL: return "yes/no/cancel";
    default: return "ok/cancel/yes/no";
  }
}

// Takes the first queued answer off `answers`, under the machine lock.
// Blank lines are skipped; an unknown word makes the file unusable.
bool TakeQueuedAnswer(int* answer) {
  winsim::MachineLock lock;
  std::string path = winsim::Machine::Get().HostPathOf("answers");
  std::string text;
  if (!winsim::ReadWholeFile(path, &text)) return false;
  size_t position = 0;
  int line_no = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    ++line_no;
    std::string word = winsim::TrimBlanks(text.substr(position, next - position));
    if (!word.empty()) {
      if (!AnswerOf(word, answer))
        throw winsim::MachineError("answers:" + std::to_string(line_no) + ": unknown answer '" + word + "'");
      winsim::WriteFileAtomic(path, text.substr(next));
      return true;
    }
    position = next;
  }
  return false;
}

bool AskTerminal(UINT type, int* answer) {
  if (!isatty(0)) return false;
  // Taking the queue kept the lock: a person at the terminal may take
  // minutes, and other programs (winsim show, winsim answer) run meanwhile.
  winsim::LetOthersRun();
  for (;;) {
    fprintf(stderr, "[%s] ", Choices(type));
    fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    line = winsim::TrimBlanks(line);
    if (line.empty()) return false;
    if (AnswerOf(line, answer)) return true;
  }
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  DWORD code;
  if (winsim::Fault("MessageBoxA", &code)) {
    SetLastError(code);
    return 0;
  }
  // Windows captions a box without a caption "Error".
  std::string shown_caption = caption ? caption : "Error";
  std::string shown_text = text ? text : "";
  fprintf(stderr, "%s: %s\n", shown_caption.c_str(), shown_text.c_str());
  fflush(stderr);
  winsim::LetOthersRun();  // the box waits for its answer
  int answer = 0;
  if (!TakeQueuedAnswer(&answer) && !AskTerminal(type, &answer)) answer = DefaultAnswer(type);
  char type_text[16];
  snprintf(type_text, sizeof type_text, "0x%X", type);
  winsim::Journal({"MessageBox", shown_caption, type_text, shown_text, std::to_string(answer)});
  return answer;
}
