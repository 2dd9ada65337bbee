// Phase G: the printer's initial settings, written straight into its
// registry keys: the TrueType font substitution table, the driver's private
// printer data and the default DevMode, each the whole content of a product
// file. A file that can't be read ends setup silently.
#include <cstdio>
#include <new>
#include <vector>

#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/file_buffer.h"

namespace {

// The whole file in one read. False when it can't be opened, its buffer
// can't be had, or the read fails or delivers fewer bytes than the file holds
// (the value would otherwise hold bytes that were never read).
bool ReadDataFile(const std::string& path, std::vector<BYTE>* content) {
  CFile file;
  if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return false;
  try {
    DWORD length = file.GetLength();
    // A length no buffer of the program can hold fails as an allocation.
    if (!FitsOneBuffer(length)) return false;
    try {
      content->assign(length, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (length > 0 && file.Read(content->data(), length) != length) return false;
    file.Close();
  } catch (const CFileException&) {
    return false;
  }
  return true;
}

void SetBinary(HKEY key, const char* name, const std::vector<BYTE>& data) {
  static const BYTE kNothing = 0;
  RegSetValueExA(key, name, 0, REG_BINARY, data.empty() ? &kNothing : data.data(),
                 static_cast<DWORD>(data.size()));
}

// The font table with its size, then the printer data. False ends setup.
bool WriteDriverData(HKEY key, const std::string& staging) {
  std::vector<BYTE> content;
  if (!ReadDataFile(staging + names::kFontTable, &content)) return false;
  DWORD size = static_cast<DWORD>(content.size());
  RegSetValueExA(key, names::kFontTableSizeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size),
                 sizeof(size));
  SetBinary(key, names::kFontTableValue, content);

  if (!ReadDataFile(staging + names::kPrinterDataFile, &content)) return false;
  SetBinary(key, names::kPrinterDataValue, content);
  return true;
}

}  // namespace

bool ConfigurePrinter(InstallContext& context) {
  printf("%s", texts::kTraceConfiguringPrinter);

  // A key that can be neither opened nor created only skips its values.
  HKEY driver_data = OpenOrCreateMachineKey(names::kPrinterDriverDataKey);
  if (driver_data != nullptr) {
    bool written = WriteDriverData(driver_data, context.StagingFolder());
    RegCloseKey(driver_data);
    if (!written) {
      outcome::Set(outcome::kFailure);
      return false;
    }
  }

  // The DevMode always comes from the install root, whatever folder setup runs from.
  const char* dev_mode_file = context.Is9xBranch() ? names::kDevMode9x : names::kDevModeNt;
  HKEY printer = OpenOrCreateMachineKey(names::kPrinterKey);
  if (printer != nullptr) {
    std::vector<BYTE> content;
    bool read = ReadDataFile(dev_mode_file, &content);
    if (read) SetBinary(printer, names::kDefaultDevModeValue, content);
    RegCloseKey(printer);
    if (!read) {
      outcome::Set(outcome::kFailure);
      return false;
    }
  }
  return true;
}
