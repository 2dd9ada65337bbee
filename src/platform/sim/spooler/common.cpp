// What the functions of the simulated spooler share: the entry checks, the
// names of its registry keys, value helpers and the packing of Enum buffers.
#include <cstring>

#include "platform/sim/spooler/spooler.h"
#include "platform/sim/services/services.h"

namespace winsim {
namespace spool {

const char kPrintKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print";
const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const char kLocalMonitor[] = "Local Port";
const char kPrintProcessor[] = "winprint";

// --- the boundary ----------------------------------------------------------------

DWORD Enter(const char* api, const char* server) {
  DWORD error = ERROR_SUCCESS;
  if (Fault(api, &error)) return error;
  // The simulated machine has no network: a named server can't be reached.
  if (server && *server) return RPC_S_SERVER_UNAVAILABLE;
  // The NT spooler is a service reached through RPC; while it is stopped
  // every call fails at the RPC layer.
  if (!SpoolerRunning()) return RPC_S_SERVER_UNAVAILABLE;
  return ERROR_SUCCESS;
}

BOOL Leave(DWORD error) {
  // These functions leave the last error alone when they succeed.
  if (error != ERROR_SUCCESS) SetLastError(error);
  return error == ERROR_SUCCESS ? TRUE : FALSE;
}

DWORD NeedAdmin() { return Machine::Get().settings().admin ? ERROR_SUCCESS : ERROR_ACCESS_DENIED; }

DWORD NullPointerError() { return NtFamily() ? kNullRefPointer : ERROR_INVALID_PARAMETER; }

// --- names and values ------------------------------------------------------------

bool IsNativeEnvironment(const char* environment) {
  // The spooler compares environment names without regard to case.
  return !environment || !*environment || EqualNoCase(environment, Machine::Get().os().environment);
}

std::string DriversKey() {
  std::string key = std::string(kPrintKey) + "\\Environments\\" + Machine::Get().os().environment + "\\Drivers";
  // NT keeps its drivers by version of the driver interface; the product's
  // drivers (cVersion 2) are the NT 4.0 kind.
  if (NtFamily()) key += "\\Version-2";
  return key;
}

bool IsKeyName(const char* name) { return name && *name && !strchr(name, '\\'); }

std::string Text(const RegKey& key, const char* value) {
  const RegValue* found = key.Value(value);
  if (!found || (found->type != REG_SZ && found->type != REG_EXPAND_SZ)) return "";
  std::string text(found->data.begin(), found->data.end());
  size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

void SetText(RegKey* key, const char* value, const std::string& text) {
  key->SetValue(value, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

void SetTextOrEmpty(RegKey* key, const char* value, const char* text) { SetText(key, value, text ? text : ""); }

void SetDword(RegKey* key, const char* value, DWORD data) {
  uint8_t bytes[4] = {static_cast<uint8_t>(data), static_cast<uint8_t>(data >> 8), static_cast<uint8_t>(data >> 16),
                      static_cast<uint8_t>(data >> 24)};
  key->SetValue(value, REG_DWORD, bytes, sizeof bytes);
}

std::string SystemPath(const std::string& file) {
  // A bare file name is looked for in the system directory, as LoadLibrary
  // does for the spooler; a name with a folder is taken as it is.
  if (file.find_first_of("\\/:") != std::string::npos) return file;
  return std::string(Machine::Get().os().system_dir) + "\\" + file;
}

// --- buffers of the Enum functions ---------------------------------------------------

Packer::Packer(size_t record_size, size_t records)
    : record_size_(record_size), records_(records), needed_(record_size * records), wide_(NtFamily()) {}

size_t Packer::StringRoom(const std::string& text) const { return (text.size() + 1) * (wide_ ? 2 : 1); }

void Packer::Count(const std::string& text) { needed_ += StringRoom(text); }

void Packer::Begin(LPBYTE buffer, size_t size) {
  buffer_ = buffer;
  end_ = size;
  // The room for the records stays free of strings.
  memset(buffer_, 0, record_size_ * records_);
}

LPSTR Packer::Put(const std::string& text) {
  size_t room = StringRoom(text);
  end_ -= room;
  LPSTR place = reinterpret_cast<LPSTR>(buffer_ + end_);
  memset(place, 0, room);
  memcpy(place, text.c_str(), text.size() + 1);
  return place;
}

void Packer::PutRecord(size_t index, const void* record) {
  // The caller's buffer need not be aligned for the record's pointers.
  memcpy(buffer_ + index * record_size_, record, record_size_);
}

DWORD FillEnumBuffer(Packer* packer, size_t count, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned,
                     const std::function<void(Packer*)>& fill) {
  if (!needed || !returned || (!buffer && size > 0)) return NullPointerError();
  *needed = static_cast<DWORD>(packer->needed());
  if (packer->needed() > size || (!buffer && packer->needed() > 0)) {
    *returned = 0;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (buffer) {
    packer->Begin(buffer, size);
    fill(packer);
  }
  *returned = static_cast<DWORD>(count);
  return ERROR_SUCCESS;
}

}  // namespace spool
}  // namespace winsim
