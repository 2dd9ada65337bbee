// The REGEDIT4 reader of system.reg: any text either parses or is refused
// with a MachineError naming the line; what parses is written back in a form
// that parses to the same hive (Serialize(Parse(x)) is a fixed point).
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/sim/registry/hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string written;
  try {
    written = winsim::Hive::Parse(text, "system.reg").Serialize();
  } catch (const winsim::MachineError& error) {
    FUZZ_CHECK(std::string(error.what()).compare(0, 11, "system.reg:") == 0);
    return 0;
  }
  std::string again;
  try {
    again = winsim::Hive::Parse(written, "system.reg").Serialize();
  } catch (const winsim::MachineError& error) {
    fprintf(stderr, "the written hive does not parse: %s\n%s\n", error.what(), written.c_str());
    abort();
  }
  FUZZ_CHECK(again == written);
  return 0;
}
