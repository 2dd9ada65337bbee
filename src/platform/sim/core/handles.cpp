// The process's handle table: every HANDLE-like value of the simulated
// machine (files, processes, finds, registry keys, printers, services) is a
// key into one table of objects.
#include <map>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

namespace {

struct Table {
  std::map<uintptr_t, std::unique_ptr<Object>> objects;
  // Small multiples of 4, as Windows hands them out: never NULL, never
  // INVALID_HANDLE_VALUE, never one of the predefined registry keys.
  uintptr_t next = 0x100;
};

Table& Handles() {
  static Table table;
  return table;
}

}  // namespace

HANDLE NewHandle(std::unique_ptr<Object> object) {
  Table& table = Handles();
  uintptr_t value = table.next;
  table.next += 4;
  table.objects[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

Object* HandleObject(HANDLE handle) {
  Table& table = Handles();
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second.get();
}

bool CloseObject(HANDLE handle) {
  Table& table = Handles();
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.objects.end()) return false;
  std::unique_ptr<Object> object = std::move(it->second);
  table.objects.erase(it);
  return true;  // the object goes here, after the table no longer names it
}

}  // namespace winsim

// CloseHandle takes kernel objects only (files, processes, threads); a find
// handle, a registry key or a printer handle is not one: ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE handle) {
  DWORD code;
  if (winsim::Fault("CloseHandle", &code)) {
    SetLastError(code);
    return FALSE;
  }
  if (!winsim::HandleAs<winsim::KernelObject>(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  winsim::CloseObject(handle);
  return TRUE;
}
