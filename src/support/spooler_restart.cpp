#include "support/spooler_restart.h"

#include "platform/win32.h"

void RestartSpooler() {
  // No result is looked at: a handle the system refused comes back NULL and
  // makes the later calls fail, and the two pauses are kept all the same.
  // The 500 ms after the stop request is the only wait for the spooler to
  // stop; there is one start request, not repeated.
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, "Spooler", SERVICE_STOP | SERVICE_START);
  SERVICE_STATUS status;
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  Sleep(500);
  StartServiceA(service, 0, NULL);
  Sleep(500);

  if (service != NULL) CloseServiceHandle(service);
  if (manager != NULL) CloseServiceHandle(manager);
}
