// The service control manager of the simulated machine, for the one service
// the setup program controls: "Spooler". OpenSCManagerA, OpenServiceA,
// ControlService, StartServiceA, CloseServiceHandle.
//
// The spooler's running state is machine state: machine.ini `spooler` gives
// it at boot; a stop or start by a program is kept in state.ini [spooler]
// until the machine boots again. Stopping the spooler unloads every monitor
// library; starting it loads the libraries of the monitors registered then.
// The 9x family has no service control manager: advapi32 exports the names,
// and every call fails with ERROR_CALL_NOT_IMPLEMENTED.

#include "spooler.h"

namespace winsim {

namespace {

const char kService[] = "Spooler";
const char kSection[] = "spooler";

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

void WriteSection(const std::vector<std::string>& lines) { WriteStateSection(kSection, lines); }

// state.ini [spooler] running = yes/no; -1 when no program changed it.
int StoredState() {
  int state = -1;
  for (const std::string& line : ReadStateSection(kSection)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || !EqualNoCase(Trim(line.substr(0, equals)), "running")) continue;
    std::string value = Trim(line.substr(equals + 1));
    if (EqualNoCase(value, "yes")) state = 1;
    if (EqualNoCase(value, "no")) state = 0;
  }
  return state;
}

struct ManagerHandle : Object {
  DWORD access = 0;
};

struct ServiceHandle : Object {
  DWORD access = 0;
};

// What a user without administrative rights may ask of the manager and of
// the spooler service: connect, enumerate, query, read.
constexpr DWORD kUserManagerAccess = 0x0001 | 0x0004 | 0x0010 | 0x00020000 | GENERIC_READ;
constexpr DWORD kUserServiceAccess = 0x0001 | 0x0004 | 0x0008 | 0x0080 | 0x0100 | 0x00020000 | GENERIC_READ;
constexpr DWORD kControlInterrogate = 4;  // SERVICE_CONTROL_INTERROGATE
constexpr DWORD kAcceptStop = 1;          // SERVICE_ACCEPT_STOP

// Every function starts with [faults], then finds no manager on 9x.
DWORD EnterScm(const char* api) {
  DWORD error = ERROR_SUCCESS;
  if (Fault(api, &error)) return error;
  if (!Machine::Get().os().nt_family) return ERROR_CALL_NOT_IMPLEMENTED;
  return ERROR_SUCCESS;
}

SC_HANDLE AsScHandle(HANDLE handle) { return reinterpret_cast<SC_HANDLE>(handle); }
HANDLE AsHandle(SC_HANDLE handle) { return reinterpret_cast<HANDLE>(handle); }

void FillStatus(LPSERVICE_STATUS status) {
  if (!status) return;
  *status = SERVICE_STATUS{};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = SpoolerRunning() ? SERVICE_RUNNING : SERVICE_STOPPED;
  status->dwControlsAccepted = SpoolerRunning() ? kAcceptStop : 0;
}

DWORD OpenManager(const char* machine, const char* database, DWORD access, SC_HANDLE* manager) {
  // The simulated machine has no network: another machine can't be reached.
  if (machine && *machine) return RPC_S_SERVER_UNAVAILABLE;
  if (database && *database && !EqualNoCase(database, "ServicesActive")) return spool::kDatabaseDoesNotExist;
  if ((access & ~kUserManagerAccess) && spool::NeedAdmin()) return ERROR_ACCESS_DENIED;
  auto object = std::make_unique<ManagerHandle>();
  object->access = access;
  *manager = AsScHandle(NewHandle(std::move(object)));
  return ERROR_SUCCESS;
}

DWORD OpenService(SC_HANDLE manager, const char* name, DWORD access, SC_HANDLE* service) {
  if (!HandleAs<ManagerHandle>(AsHandle(manager))) return ERROR_INVALID_HANDLE;
  if (!name) return ERROR_INVALID_NAME;
  // Service names are compared without regard to case.
  if (!EqualNoCase(name, kService)) return ERROR_SERVICE_DOES_NOT_EXIST;
  if ((access & ~kUserServiceAccess) && spool::NeedAdmin()) return ERROR_ACCESS_DENIED;
  auto object = std::make_unique<ServiceHandle>();
  object->access = access;
  *service = AsScHandle(NewHandle(std::move(object)));
  return ERROR_SUCCESS;
}

DWORD Control(ServiceHandle* service, DWORD control, LPSERVICE_STATUS status) {
  if (!service) return ERROR_INVALID_HANDLE;
  if (!status) return ERROR_INVALID_PARAMETER;
  DWORD error = ERROR_SUCCESS;
  if (control == SERVICE_CONTROL_STOP) {
    if (!(service->access & SERVICE_STOP)) return ERROR_ACCESS_DENIED;
    MachineLock lock;
    if (!SpoolerRunning()) {
      error = ERROR_SERVICE_NOT_ACTIVE;
    } else {
      SetSpoolerRunning(false);
      // The spooler process ends and with it every monitor library.
      ReleaseAllLibraries();
    }
  } else if (control == kControlInterrogate) {
    if (!SpoolerRunning()) error = ERROR_SERVICE_NOT_ACTIVE;
  } else if (control == 0 || control > 255) {
    return ERROR_INVALID_PARAMETER;
  } else {
    // The spooler accepts no pause, continue or custom control.
    error = SpoolerRunning() ? ERROR_INVALID_SERVICE_CONTROL : ERROR_SERVICE_NOT_ACTIVE;
  }
  // The status comes back with these refusals too, as Windows gives it.
  FillStatus(status);
  return error;
}

DWORD Start(ServiceHandle* service) {
  if (!service) return ERROR_INVALID_HANDLE;
  if (!(service->access & SERVICE_START)) return ERROR_ACCESS_DENIED;
  MachineLock lock;
  if (SpoolerRunning()) return ERROR_SERVICE_ALREADY_RUNNING;
  SetSpoolerRunning(true);
  spool::LoadRegisteredMonitors();
  return ERROR_SUCCESS;
}

// The journal names the service a handle stands for; none for another handle.
std::string ServiceName(SC_HANDLE handle) { return HandleAs<ServiceHandle>(AsHandle(handle)) ? kService : ""; }

}  // namespace

bool SpoolerRunning() {
  const Machine& machine = Machine::Get();
  if (!machine.os().nt_family) return true;
  int stored = StoredState();
  return stored < 0 ? machine.settings().spooler_running : stored == 1;
}

void SetSpoolerRunning(bool running) {
  MachineLock lock;
  WriteSection({std::string("running = ") + (running ? "yes" : "no")});
}

void ForgetSpoolerState() {
  MachineLock lock;
  if (StoredState() >= 0) WriteSection({});
}

}  // namespace winsim

SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
  SC_HANDLE manager = nullptr;
  DWORD error = winsim::EnterScm("OpenSCManagerA");
  if (!error) error = winsim::OpenManager(machine, database, access, &manager);
  winsim::spool::Leave(error);
  return manager;
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
  SC_HANDLE service = nullptr;
  DWORD error = winsim::EnterScm("OpenServiceA");
  if (!error) error = winsim::OpenService(manager, name, access, &service);
  winsim::spool::Leave(error);
  return service;
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  DWORD error = winsim::EnterScm("ControlService");
  if (!error)
    error = winsim::Control(winsim::HandleAs<winsim::ServiceHandle>(winsim::AsHandle(service)), control, status);
  winsim::Journal({"ControlService", winsim::ServiceName(service), std::to_string(control), std::to_string(error)});
  return winsim::spool::Leave(error);
}

BOOL StartServiceA(SC_HANDLE service, DWORD /*argc*/, LPCSTR* /*argv*/) {
  DWORD error = winsim::EnterScm("StartServiceA");
  if (!error) error = winsim::Start(winsim::HandleAs<winsim::ServiceHandle>(winsim::AsHandle(service)));
  winsim::Journal({"StartService", winsim::ServiceName(service), std::to_string(error)});
  return winsim::spool::Leave(error);
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  DWORD error = winsim::EnterScm("CloseServiceHandle");
  if (!error) {
    winsim::Object* object = winsim::HandleObject(winsim::AsHandle(handle));
    bool ours = dynamic_cast<winsim::ManagerHandle*>(object) || dynamic_cast<winsim::ServiceHandle*>(object);
    error = ours && winsim::CloseObject(winsim::AsHandle(handle)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  }
  return winsim::spool::Leave(error);
}
