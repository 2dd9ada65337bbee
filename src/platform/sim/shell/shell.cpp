// shell32's change notification: the shell is not simulated, so the
// notification is recorded in the journal.
#include <cstdio>

#include "platform/sim/core/machine.h"

void SHChangeNotify(LONG event, UINT flags, LPCVOID /*item1*/, LPCVOID /*item2*/) {
  DWORD code;
  // SHChangeNotify returns nothing: a faulted call only leaves its last error.
  if (winsim::Fault("SHChangeNotify", &code)) {
    SetLastError(code);
    return;
  }
  char event_text[16], flags_text[16];
  snprintf(event_text, sizeof event_text, "0x%X", static_cast<unsigned>(event));
  snprintf(flags_text, sizeof flags_text, "0x%X", flags);
  winsim::Journal({"SHChangeNotify", event_text, flags_text});
}
