// Phase G: the printer's initial settings, written straight into its
// registry keys: the TrueType font substitution table, the driver's private
// printer data and the default DevMode, each the whole content of a product
// file. A file that can't be read ends setup silently.
#include <cstdio>
#include <memory>

#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/file_buffer.h"

namespace {

// A data file's whole content, in one buffer of exactly its length.
struct Content {
  std::unique_ptr<BYTE[]> bytes;
  DWORD length = 0;
};

// The whole file in one read. False when it can't be opened, its buffer
// can't be had (a length beyond any buffer of the program counts so), or the
// read fails or delivers fewer bytes than the file holds (the value would
// otherwise hold bytes that were never read).
bool ReadDataFile(const std::string& path, Content* content) {
  CFile file;
  if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return false;
  try {
    content->length = file.GetLength();
    content->bytes = NewFileBuffer<BYTE>(content->length);
    if (!content->bytes) return false;
    if (file.Read(content->bytes.get(), content->length) != content->length) return false;
    file.Close();
  } catch (const CFileException&) {
    return false;
  }
  return true;
}

void SetBinary(HKEY key, const char* name, const Content& content) {
  RegSetValueExA(key, name, 0, REG_BINARY, content.bytes.get(), content.length);
}

// The font table with its size, then the printer data. False ends setup.
bool WriteDriverData(HKEY key, const std::string& staging) {
  Content content;
  if (!ReadDataFile(staging + names::kFontTable, &content)) return false;
  RegSetValueExA(key, names::kFontTableSizeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&content.length),
                 sizeof(content.length));
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
    Content content;
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
