// The service control manager of the simulated machine, for the one service
// the setup program controls: "Spooler". OpenSCManagerA, OpenServiceA,
// ControlService, StartServiceA, QueryServiceStatus, CloseServiceHandle.
//
// The spooler's running state is machine state: machine.ini `spooler` gives
// it at boot; a stop or start by a program is kept in state.ini [spooler]
// until the machine boots again. A stop request returns at once; the spooler
// stops when machine.ini's [spooler] stop_ms has passed (at once with 0, the
// default), in host time on the real clock and in Sleep time on the virtual
// one, whichever process on the machine lives to see it. Until then the
// service is STOP_PENDING and the spooler still answers calls. Stopping
// unloads every monitor library; starting loads the libraries of the
// monitors registered then. The 9x family has no service control manager:
// advapi32 exports the names, and every call fails with
// ERROR_CALL_NOT_IMPLEMENTED.

#include <time.h>

#include <cstdlib>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/processes/processes.h"
#include "platform/sim/services/services.h"
#include "platform/sim/spooler/spooler.h"

namespace winsim {

namespace {

const char kService[] = "Spooler";
const char kSection[] = "spooler";

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The service as programs left it, in state.ini [spooler]:
//   running = yes | no    started or stopped by a program;
//   running = stopping    a stop under way, which ends when the Sleep time in
//   stop_left = MS        has passed (virtual clock), or at
//   stop_due = MS         that host time, milliseconds since 1970 (real clock).
// No line: as machine.ini's `spooler` has it at boot.
struct Record {
  bool stored = false;
  ServiceState state = ServiceState::kRunning;
  bool by_sleep = false;  // the stop counts down with Sleep (stop_left)
  unsigned long long left = 0;
  unsigned long long due = 0;
};

Record ReadRecord() {
  Record record;
  for (const std::string& line : ReadStateSection(kSection)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    if (EqualNoCase(key, "running")) {
      record.stored = true;
      if (EqualNoCase(value, "yes")) record.state = ServiceState::kRunning;
      else if (EqualNoCase(value, "no")) record.state = ServiceState::kStopped;
      else if (EqualNoCase(value, "stopping")) record.state = ServiceState::kStopPending;
      else record.stored = false;
    } else if (EqualNoCase(key, "stop_left")) {
      record.by_sleep = true;
      record.left = strtoull(value.c_str(), nullptr, 10);
    } else if (EqualNoCase(key, "stop_due")) {
      record.due = strtoull(value.c_str(), nullptr, 10);
    }
  }
  return record;
}

// Call under the machine lock.
void WriteRecord(const Record& record) {
  std::vector<std::string> lines;
  if (record.stored) {
    const char* state = record.state == ServiceState::kRunning   ? "yes"
                        : record.state == ServiceState::kStopped ? "no"
                                                                 : "stopping";
    lines.push_back(std::string("running = ") + state);
    if (record.state == ServiceState::kStopPending)
      lines.push_back(record.by_sleep ? "stop_left = " + std::to_string(record.left)
                                      : "stop_due = " + std::to_string(record.due));
  }
  WriteStateSection(kSection, lines);
}

unsigned long long HostMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned long long>(now.tv_sec) * 1000ull +
         static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
}

bool Stopping(const Record& record) { return record.stored && record.state == ServiceState::kStopPending; }

// The time a stop under way still needs, in milliseconds, as much as a DWORD holds.
DWORD StopLeft(const Record& record) {
  unsigned long long left = record.left;
  if (!record.by_sleep) {
    unsigned long long now = HostMilliseconds();
    left = record.due > now ? record.due - now : 0;
  }
  return left > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(left);
}

// The spooler process has ended, and with it every monitor library.
// Call under the machine lock.
void FinishStop() {
  Record stopped;
  stopped.stored = true;
  stopped.state = ServiceState::kStopped;
  WriteRecord(stopped);
  ReleaseAllLibraries();
}

// The record now: a stop whose time has come is finished first.
Record Current() {
  Record record = ReadRecord();
  if (Stopping(record) && StopLeft(record) == 0) {
    MachineLock lock;
    record = ReadRecord();
    if (Stopping(record) && StopLeft(record) == 0) FinishStop();
    record = ReadRecord();
  }
  if (!record.stored)
    record.state = Machine::Get().settings().spooler_running ? ServiceState::kRunning : ServiceState::kStopped;
  return record;
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

// The status a service reports: a stop under way accepts no control and
// gives the time it still needs as its wait hint.
void FillStatus(const Record& record, LPSERVICE_STATUS status) {
  *status = SERVICE_STATUS{};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  switch (record.state) {
    case ServiceState::kRunning:
      status->dwCurrentState = SERVICE_RUNNING;
      status->dwControlsAccepted = kAcceptStop;
      break;
    case ServiceState::kStopPending:
      status->dwCurrentState = SERVICE_STOP_PENDING;
      status->dwCheckPoint = 1;
      status->dwWaitHint = StopLeft(record);
      break;
    case ServiceState::kStopped:
      status->dwCurrentState = SERVICE_STOPPED;
      break;
  }
}

// What a control that the service can't take now fails with: a stopped
// service isn't active, one stopping takes no control at all.
DWORD NotNow(ServiceState state) {
  return state == ServiceState::kStopped ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
}

DWORD OpenManager(const char* machine, const char* database, DWORD access, SC_HANDLE* manager) {
  // The simulated machine has no network: another machine can't be reached.
  if (machine && *machine) return RPC_S_SERVER_UNAVAILABLE;
  // The active database by name, or none; the failed one is a name the
  // manager knows but opens for nobody; any other is no database name.
  if (database && *database && !EqualNoCase(database, "ServicesActive"))
    return EqualNoCase(database, "ServicesFailed") ? spool::kDatabaseDoesNotExist : ERROR_INVALID_NAME;
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
  if (control == SERVICE_CONTROL_STOP && !(service->access & SERVICE_STOP)) return ERROR_ACCESS_DENIED;
  if (control == 0 || control > 255) return ERROR_INVALID_PARAMETER;
  MachineLock lock;
  Record record = Current();
  DWORD error = ERROR_SUCCESS;
  if (record.state != ServiceState::kRunning) {
    error = NotNow(record.state);
  } else if (control == SERVICE_CONTROL_STOP) {
    DWORD stop_ms = Machine::Get().settings().spooler_stop_ms;
    if (stop_ms == 0) {
      FinishStop();
    } else {
      // The request is taken; the spooler ends its jobs, printers and
      // monitors first, and the service reports STOP_PENDING meanwhile.
      record = Record();
      record.stored = true;
      record.state = ServiceState::kStopPending;
      record.by_sleep = Machine::Get().settings().virtual_clock;
      record.left = stop_ms;
      record.due = HostMilliseconds() + stop_ms;
      WriteRecord(record);
    }
    record = Current();
  } else if (control != kControlInterrogate) {
    // The spooler accepts no pause, continue or custom control.
    error = ERROR_INVALID_SERVICE_CONTROL;
  }
  // The status comes back with these refusals too, as Windows gives it.
  FillStatus(record, status);
  return error;
}

DWORD Start(ServiceHandle* service) {
  if (!service) return ERROR_INVALID_HANDLE;
  if (!(service->access & SERVICE_START)) return ERROR_ACCESS_DENIED;
  MachineLock lock;
  // The service is still there while it stops: a start request then fails
  // like one while it runs, and the stop goes on.
  if (Current().state != ServiceState::kStopped) return ERROR_SERVICE_ALREADY_RUNNING;
  SetSpoolerRunning(true);
  spool::LoadRegisteredMonitors();
  return ERROR_SUCCESS;
}

// The handle comes first, then the pointer (refused by the RPC layer before
// the manager looks at the rights: ERROR_INVALID_PARAMETER on NT 4.0 and
// earlier, ERROR_INVALID_ADDRESS later), then SERVICE_QUERY_STATUS.
DWORD QueryStatus(ServiceHandle* service, LPSERVICE_STATUS status) {
  constexpr DWORD kInvalidAddress = 487;  // ERROR_INVALID_ADDRESS
  if (!service) return ERROR_INVALID_HANDLE;
  if (!status) return NtBefore2000() ? ERROR_INVALID_PARAMETER : kInvalidAddress;
  if (!(service->access & SERVICE_QUERY_STATUS)) return ERROR_ACCESS_DENIED;
  FillStatus(Current(), status);
  return ERROR_SUCCESS;
}

// The journal names the service a handle stands for; none for another handle.
std::string ServiceName(SC_HANDLE handle) { return HandleAs<ServiceHandle>(AsHandle(handle)) ? kService : ""; }

}  // namespace

ServiceState SpoolerState(DWORD* stop_left_ms) {
  if (stop_left_ms) *stop_left_ms = 0;
  if (!Machine::Get().os().nt_family) return ServiceState::kRunning;
  Record record = Current();
  if (stop_left_ms && record.state == ServiceState::kStopPending) *stop_left_ms = StopLeft(record);
  return record.state;
}

bool SpoolerRunning() { return SpoolerState() != ServiceState::kStopped; }

void SetSpoolerRunning(bool running) {
  MachineLock lock;
  Record record;
  record.stored = true;
  record.state = running ? ServiceState::kRunning : ServiceState::kStopped;
  WriteRecord(record);
}

// Sleep lets time pass for a stop under way.
const bool kWatchesTime = (WhenTimePasses(SpoolerTimePassed), true);

void SpoolerTimePassed(DWORD milliseconds) {
  if (!Machine::Get().os().nt_family || milliseconds == 0) return;
  Record record = ReadRecord();
  if (!Stopping(record) || !record.by_sleep) return;
  MachineLock lock;
  record = ReadRecord();
  if (!Stopping(record) || !record.by_sleep) return;
  record.left = record.left > milliseconds ? record.left - milliseconds : 0;
  if (record.left == 0) FinishStop();
  else WriteRecord(record);
}

void ForgetSpoolerState() {
  MachineLock lock;
  if (ReadRecord().stored) WriteRecord(Record());
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

// Asks, changes nothing: no journal line.
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  DWORD error = winsim::EnterScm("QueryServiceStatus");
  if (!error) error = winsim::QueryStatus(winsim::HandleAs<winsim::ServiceHandle>(winsim::AsHandle(service)), status);
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
