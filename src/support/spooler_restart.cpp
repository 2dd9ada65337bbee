#include "support/spooler_restart.h"

#include "platform/win32.h"

namespace {

// Each wait for the service ends after 30 s of pauses at most; it asks
// every 250 ms.
constexpr DWORD kWaitLimitMs = 30000;
constexpr DWORD kPollMs = 250;

// Waits until the service reports `state`, as long as it reports `pending`,
// the way there. It asks before each pause, so a service already there costs
// no pause at all. A service that isn't on its way (a stop or start refused)
// or can't be asked (no handle, no rights, no service control manager) ends
// the wait at once: waiting would change nothing.
void WaitForState(SC_HANDLE service, DWORD state, DWORD pending) {
  if (service == NULL) return;
  for (DWORD waited = 0;; waited += kPollMs) {
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState == state) return;
    if (status.dwCurrentState != pending || waited >= kWaitLimitMs) return;
    Sleep(kPollMs);
  }
}

}  // namespace

void RestartSpooler() {
  // No result is looked at: a handle the system refused comes back NULL and
  // makes the later calls fail, and the two pauses are kept all the same.
  // A stop request returns while the spooler is still stopping (seconds, with
  // monitors and printers loaded), and a start request before it has stopped
  // fails and leaves it stopped once it has: so the start waits for the
  // stopped state, and the routine returns once the spooler runs again.
  // Neither wait is reported; a stop or start still under way after 30 s
  // ends it at its limit, and the caller goes on as it would have.
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, "Spooler", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
  SERVICE_STATUS status;
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  Sleep(500);
  WaitForState(service, SERVICE_STOPPED, SERVICE_STOP_PENDING);
  StartServiceA(service, 0, NULL);
  Sleep(500);
  WaitForState(service, SERVICE_RUNNING, SERVICE_START_PENDING);

  if (service != NULL) CloseServiceHandle(service);
  if (manager != NULL) CloseServiceHandle(manager);
}
