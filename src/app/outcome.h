// How a run ended, for the process exit status. Nothing the user sees
// depends on it; an administrator's script reads it.
#pragma once

namespace outcome {

enum Status : int {
  kSuccess = 0,          // the install ran to its end with the printer in place, or the uninstall ran to its end
  kFailure = 1603,       // any other early end, or an install whose printer could not be created
  kCancelled = 1602,     // the uninstall question was answered No
  kRebootRequired = 3010 // a run that asks for a reboot
};

void Set(Status status);
Status Get();

}  // namespace outcome
