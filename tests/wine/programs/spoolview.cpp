// Lists what the spooler answers, as an application sees it, one fact a
// line, tab-separated, in a fixed order: EnumMonitorsA and EnumPortsA
// (levels 1 and 2), EnumPrinterDriversA (levels 1 to 3), EnumPrintersA
// (local printers, level 2), GetPrinterDriverDirectoryA, and the product's
// printer through OpenPrinterA, GetPrinterA (level 2) and ClosePrinter.
//
// Each call is made the way applications make it: first with no buffer
// (size 0), then with a buffer one byte short of the size the first call
// asked for, then with a buffer of exactly that size.
// Lines:
//   call  API LEVEL probe|short|fill RESULT LAST-ERROR NEEDED RETURNED SIZE RECORD-SIZE
//   record API LEVEL INDEX FIELD=VALUE...   strings escaped (\t \n \\), NULL as \N,
//                                           numbers in hex
//   misplaced API LEVEL INDEX FIELD OFFSET  a pointer outside the buffer's string area
//   open NAME RESULT LAST-ERROR / close NAME RESULT
//   unavailable API                         a call this Win32 implementation lacks
// The last error is set to 0xdeadbeef before each call and printed after it,
// whatever the result, so a call that leaves it alone shows that value.
//
// Built with mingw-w64 (under Wine) and over the simulated machine (its
// WINSIM_ROOT), from the same source.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "view_main.h"

namespace {

const char kPrinter[] = "ZENTAQ";
const DWORD kUntouched = 0xdeadbeef;

std::string Escape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\t') {
      out += "\\t";
    } else if (*p == '\n') {
      out += "\\n";
    } else if (*p == '\\') {
      out += "\\\\";
    } else {
      out += *p;
    }
  }
  return out;
}

// One returned buffer and the records in it: checks that each string lies
// after the records and ends inside the buffer before it is read.
class Listing {
 public:
  Listing(const char* api, DWORD level, const BYTE* buffer, DWORD size, DWORD count, size_t record_size)
      : api_(api), level_(level), buffer_(buffer), size_(size), strings_(count * record_size) {}

  void Begin(DWORD index) {
    index_ = index;
    line_ = std::string("record\t") + api_ + "\t" + std::to_string(level_) + "\t" + std::to_string(index);
  }

  void String(const char* field, const char* text) {
    line_ += std::string("\t") + field + "=";
    if (!text) {
      line_ += "\\N";
      return;
    }
    if (!Inside(field, text, 1)) {
      line_ += "\\?";
      return;
    }
    line_ += Escape(text);
  }

  // A multi-string: its names joined by blanks.
  void Strings(const char* field, const char* list) {
    line_ += std::string("\t") + field + "=";
    if (!list) {
      line_ += "\\N";
      return;
    }
    if (!Inside(field, list, 2)) {
      line_ += "\\?";
      return;
    }
    for (const char* p = list; *p; p += strlen(p) + 1) line_ += (p == list ? "" : " ") + Escape(p);
  }

  void Number(const char* field, DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    line_ += std::string("\t") + field + "=" + text;
  }

  // A block of `bytes` bytes that the record points to (a DEVMODE).
  void Block(const char* field, const void* block, size_t bytes) {
    line_ += std::string("\t") + field + "=";
    if (!block) {
      line_ += "\\N";
      return;
    }
    bool inside = Holds(block, bytes);
    if (!inside) Misplaced(field, static_cast<const BYTE*>(block));
    line_ += inside ? "inside" : "\\?";
  }

  // `bytes` bytes from `p` lie in the buffer, past the records. Compared as
  // numbers: a pointer that a faulty spooler left may point anywhere.
  bool Holds(const void* p, size_t bytes) const {
    uintptr_t at = reinterpret_cast<uintptr_t>(p), start = reinterpret_cast<uintptr_t>(buffer_);
    return at >= start + strings_ && at < start + size_ && bytes <= start + size_ - at;
  }

  void End() { printf("%s\n", line_.c_str()); }

 private:
  // Inside the string area, with its end (one NUL; two for a multi-string
  // that isn't empty) before the buffer's.
  bool Inside(const char* field, const char* text, int nuls) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text);
    bool inside = Holds(p, 1);
    if (inside) {
      size_t left = reinterpret_cast<uintptr_t>(buffer_) + size_ - reinterpret_cast<uintptr_t>(p);
      if (nuls == 1 || p[0] == 0) {
        inside = memchr(p, 0, left) != nullptr;
      } else {
        size_t at = 1;
        while (at < left && (p[at] || p[at - 1])) ++at;
        inside = at < left;
      }
    }
    if (!inside) Misplaced(field, p);
    return inside;
  }

  void Misplaced(const char* field, const BYTE* p) {
    printf("misplaced\t%s\t%lu\t%lu\t%s\t%ld\n", api_, static_cast<unsigned long>(level_),
           static_cast<unsigned long>(index_), field,
           static_cast<long>(reinterpret_cast<intptr_t>(p) - reinterpret_cast<intptr_t>(buffer_)));
  }

  const char* api_;
  DWORD level_;
  const BYTE* buffer_;
  DWORD size_;
  size_t strings_;
  DWORD index_ = 0;
  std::string line_;
};

typedef std::function<BOOL(LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned)> EnumCall;
typedef std::function<void(Listing* out, const BYTE* record)> RecordPrinter;

// The result of a call with the last error it left (taken before anything
// else can change it).
void Call(const char* api, DWORD level, const char* kind, BOOL ok, DWORD error, DWORD needed, DWORD returned,
          DWORD size, size_t record_size = 0) {
  printf("call\t%s\t%lu\t%s\t%d\t0x%lx\t%lu\t%lu\t%lu\t%lu\n", api, static_cast<unsigned long>(level), kind,
         ok ? 1 : 0, static_cast<unsigned long>(error), static_cast<unsigned long>(needed),
         static_cast<unsigned long>(returned), static_cast<unsigned long>(size),
         static_cast<unsigned long>(record_size));
}

// The call with a buffer one byte short of the size asked for: refused
// whole, with the same size.
void CallShort(const char* api, DWORD level, const EnumCall& call, LPBYTE buffer, DWORD size, bool counted) {
  if (size == 0) return;
  DWORD needed = 0, returned = 0;
  SetLastError(kUntouched);
  BOOL ok = call(buffer, size - 1, &needed, counted ? &returned : nullptr);
  Call(api, level, "short", ok, GetLastError(), needed, returned, size - 1);
}

// The two calls of an Enum function, then its records. `returned` is null
// for a Get function (one record).
void List(const char* api, DWORD level, size_t record_size, const EnumCall& call, const RecordPrinter& print,
          bool counted = true) {
  DWORD needed = 0, returned = 0;
  SetLastError(kUntouched);
  BOOL ok = call(nullptr, 0, &needed, counted ? &returned : nullptr);
  DWORD error = GetLastError();
  Call(api, level, "probe", ok, error, needed, returned, 0);
  if (!ok && error != ERROR_INSUFFICIENT_BUFFER) return;
  DWORD size = needed;
  std::vector<BYTE> buffer(size + 1);
  CallShort(api, level, call, buffer.data(), size, counted);
  DWORD needed2 = 0;
  returned = 0;
  SetLastError(kUntouched);
  ok = call(buffer.data(), size, &needed2, counted ? &returned : nullptr);
  Call(api, level, "fill", ok, GetLastError(), needed2, returned, size, record_size);
  if (!ok) return;
  DWORD count = counted ? returned : 1;
  Listing out(api, level, buffer.data(), size, count, record_size);
  for (DWORD i = 0; i < count; ++i) {
    out.Begin(i);
    print(&out, buffer.data() + i * record_size);
    out.End();
  }
}

template <class T>
const T* As(const BYTE* record) {
  // The records need not be aligned for their pointers: copied out first.
  static T copy;
  memcpy(&copy, record, sizeof copy);
  return &copy;
}

void Monitors() {
  List("EnumMonitorsA", 1, sizeof(MONITOR_INFO_1A),
       [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r) { return EnumMonitorsA(nullptr, 1, b, s, n, r); },
       [](Listing* out, const BYTE* record) { out->String("pName", As<MONITOR_INFO_1A>(record)->pName); });
  List("EnumMonitorsA", 2, sizeof(MONITOR_INFO_2A),
       [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r) { return EnumMonitorsA(nullptr, 2, b, s, n, r); },
       [](Listing* out, const BYTE* record) {
         const MONITOR_INFO_2A* m = As<MONITOR_INFO_2A>(record);
         out->String("pName", m->pName);
         out->String("pEnvironment", m->pEnvironment);
         out->String("pDLLName", m->pDLLName);
       });
}

void Ports() {
  List("EnumPortsA", 1, sizeof(PORT_INFO_1A),
       [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r) { return EnumPortsA(nullptr, 1, b, s, n, r); },
       [](Listing* out, const BYTE* record) { out->String("pName", As<PORT_INFO_1A>(record)->pName); });
  List("EnumPortsA", 2, sizeof(PORT_INFO_2A),
       [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r) { return EnumPortsA(nullptr, 2, b, s, n, r); },
       [](Listing* out, const BYTE* record) {
         const PORT_INFO_2A* p = As<PORT_INFO_2A>(record);
         out->String("pPortName", p->pPortName);
         out->String("pMonitorName", p->pMonitorName);
         out->String("pDescription", p->pDescription);
         out->Number("fPortType", p->fPortType);
         out->Number("Reserved", p->Reserved);
       });
}

void DriverDirectory() {
  DWORD needed = 0;
  SetLastError(kUntouched);
  BOOL ok = GetPrinterDriverDirectoryA(nullptr, nullptr, 1, nullptr, 0, &needed);
  Call("GetPrinterDriverDirectoryA", 1, "probe", ok, GetLastError(), needed, 0, 0);
  std::vector<BYTE> buffer(needed + 1);
  DWORD size = needed;
  // One byte short: no room for the terminating NUL.
  auto call = [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD) {
    return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, b, s, n);
  };
  CallShort("GetPrinterDriverDirectoryA", 1, call, buffer.data(), size, false);
  SetLastError(kUntouched);
  ok = GetPrinterDriverDirectoryA(nullptr, nullptr, 1, buffer.data(), size, &needed);
  Call("GetPrinterDriverDirectoryA", 1, "fill", ok, GetLastError(), needed, 0, size);
  if (ok) {
    buffer[size] = 0;
    printf("record\tGetPrinterDriverDirectoryA\t1\t0\tpath=%s\n",
           Escape(reinterpret_cast<const char*>(buffer.data())).c_str());
  }
}

#ifdef _WIN32
// Calls the simulated machine doesn't offer (setup doesn't make them):
// EnumPrinterDriversA with DRIVER_INFO_1A/2A, EnumPrintersA with
// PRINTER_ENUM_LOCAL, GetPrinterA.
void PrinterInfo2(Listing* out, const BYTE* record) {
  const PRINTER_INFO_2A* p = As<PRINTER_INFO_2A>(record);
  out->String("pServerName", p->pServerName);
  out->String("pPrinterName", p->pPrinterName);
  out->String("pShareName", p->pShareName);
  out->String("pPortName", p->pPortName);
  out->String("pDriverName", p->pDriverName);
  out->String("pComment", p->pComment);
  out->String("pLocation", p->pLocation);
  // The DEVMODE's own size once its head is known to be in the buffer.
  const DEVMODEA* devmode = p->pDevMode;
  size_t head = offsetof(DEVMODEA, dmDriverExtra) + sizeof(WORD);
  out->Block("pDevMode", devmode, out->Holds(devmode, head) ? devmode->dmSize + devmode->dmDriverExtra : head);
  out->String("pSepFile", p->pSepFile);
  out->String("pPrintProcessor", p->pPrintProcessor);
  out->String("pDatatype", p->pDatatype);
  out->String("pParameters", p->pParameters);
  out->Number("Attributes", p->Attributes);
  out->Number("Priority", p->Priority);
  out->Number("DefaultPriority", p->DefaultPriority);
  out->Number("StartTime", p->StartTime);
  out->Number("UntilTime", p->UntilTime);
  out->Number("Status", p->Status);
  out->Number("cJobs", p->cJobs);
}

void Drivers() {
  static const size_t sizes[] = {0, sizeof(DRIVER_INFO_1A), sizeof(DRIVER_INFO_2A), sizeof(DRIVER_INFO_3A)};
  for (DWORD level = 1; level <= 3; ++level) {
    List("EnumPrinterDriversA", level, sizes[level],
         [level](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r) {
           return EnumPrinterDriversA(nullptr, nullptr, level, b, s, n, r);
         },
         [level](Listing* out, const BYTE* record) {
           if (level == 1) {
             out->String("pName", As<DRIVER_INFO_1A>(record)->pName);
             return;
           }
           // DRIVER_INFO_2A is the head of DRIVER_INFO_3A.
           DRIVER_INFO_3A d{};
           memcpy(&d, record, level == 2 ? sizeof(DRIVER_INFO_2A) : sizeof d);
           out->Number("cVersion", d.cVersion);
           out->String("pName", d.pName);
           out->String("pEnvironment", d.pEnvironment);
           out->String("pDriverPath", d.pDriverPath);
           out->String("pDataFile", d.pDataFile);
           out->String("pConfigFile", d.pConfigFile);
           if (level < 3) return;
           out->String("pHelpFile", d.pHelpFile);
           out->Strings("pDependentFiles", d.pDependentFiles);
           out->String("pMonitorName", d.pMonitorName);
           out->String("pDefaultDataType", d.pDefaultDataType);
         });
  }
}

void Printers() {
  List("EnumPrintersA", 2, sizeof(PRINTER_INFO_2A),
       [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r) {
         return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, b, s, n, r);
       },
       PrinterInfo2);
}

void GetPrinterOf(HANDLE printer) {
  List("GetPrinterA", 2, sizeof(PRINTER_INFO_2A),
       [printer](LPBYTE b, DWORD s, LPDWORD n, LPDWORD) { return GetPrinterA(printer, 2, b, s, n); },
       PrinterInfo2, false);
}
#else
void Drivers() { printf("unavailable\tEnumPrinterDriversA\n"); }
void Printers() { printf("unavailable\tEnumPrintersA\n"); }
void GetPrinterOf(HANDLE) { printf("unavailable\tGetPrinterA\n"); }
#endif

void Printer() {
  HANDLE printer = nullptr;
  SetLastError(kUntouched);
  BOOL ok = OpenPrinterA(const_cast<LPSTR>(kPrinter), &printer, nullptr);
  DWORD error = GetLastError();
  printf("open\t%s\t%d\t0x%lx\n", kPrinter, ok ? 1 : 0, static_cast<unsigned long>(error));
  if (!ok) return;
  GetPrinterOf(printer);
  printf("close\t%s\t%d\n", kPrinter, ClosePrinter(printer) ? 1 : 0);
}

int List() {
  Monitors();
  Ports();
  Drivers();
  Printers();
  DriverDirectory();
  Printer();
  return fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main() { return RunView("spoolview", List); }
