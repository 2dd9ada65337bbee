// The hive's change log (system.reg.log): the record that ChangeRecording
// writes down while keys and values change, applied to the hive as it was,
// gives the hive as it is; and any text applied as records either applies or
// is refused with a MachineError.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/sim/registry/hive.h"

namespace {

const char kBase[] =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\"\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n@=dword:00000001\n"
    "\n[HKEY_LOCAL_MACHINE\\C]\n\"bin\"=hex:00,01\n";

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // A key name: 1 to 8 bytes, any but the separator, zero and the line
  // feed (which the text form of a key line can't hold).
  std::string KeyName() {
    std::string name;
    for (size_t n = Byte() % 8 + 1; n > 0; --n) {
      char c = static_cast<char>(Byte());
      name += c == '\\' || c == '\0' || c == '\n' ? 'k' : c;
    }
    return name;
  }
  std::string Bytes(size_t limit) {
    std::string bytes;
    for (size_t n = Byte() % limit; n > 0; --n) bytes += static_cast<char>(Byte());
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void Collect(winsim::RegKey* key, std::vector<winsim::RegKey*>* keys) {
  keys->push_back(key);
  for (auto& sub : key->subkeys) Collect(sub.get(), keys);
}

void Change(winsim::Hive& hive, Input& input) {
  std::vector<winsim::RegKey*> keys;
  Collect(&hive.root(), &keys);
  winsim::RegKey* key = keys[input.Byte() % keys.size()];
  switch (input.Byte() % 5) {
    case 0:
      key->AddChild(input.KeyName());
      break;
    case 1:
      if (!key->subkeys.empty()) key->RemoveChild(key->subkeys[input.Byte() % key->subkeys.size()]->name);
      break;
    case 2: {
      std::string name = input.Bytes(6);
      DWORD type = input.Byte() % 12;
      std::string data = input.Bytes(10);
      key->SetValue(name, type, reinterpret_cast<const uint8_t*>(data.data()), data.size());
      break;
    }
    case 3:
      if (!key->values.empty()) key->RemoveValue(key->values[input.Byte() % key->values.size()].name);
      break;
    default:
      if (key->parent) hive.Remove(key->Path());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    // Any text as records.
    winsim::Hive hive = winsim::Hive::Parse(kBase, "system.reg");
    try {
      winsim::ApplyChanges(&hive, std::string(reinterpret_cast<const char*>(data) + 1, size - 1), "system.reg.log", 1);
    } catch (const winsim::MachineError&) {
      return 0;
    }
    hive.Serialize();
    return 0;
  }
  winsim::Hive hive = winsim::Hive::Parse(kBase, "system.reg");
  Input input(data + 1, size - 1);
  std::string record;
  {
    winsim::ChangeRecording recording(hive);
    while (!input.Empty()) Change(hive, input);
    record = recording.text();
  }
  winsim::Hive replayed = winsim::Hive::Parse(kBase, "system.reg");
  try {
    winsim::ApplyChanges(&replayed, record + ";end\n", "system.reg.log", 1);
  } catch (const winsim::MachineError& error) {
    fprintf(stderr, "the record does not apply: %s\n%s\n", error.what(), record.c_str());
    abort();
  }
  std::string expected = hive.Serialize();
  std::string got = replayed.Serialize();
  if (got != expected) {
    fprintf(stderr, "record:\n%s\nexpected:\n%s\ngot:\n%s\n", record.c_str(), expected.c_str(), got.c_str());
    abort();
  }
  return 0;
}
