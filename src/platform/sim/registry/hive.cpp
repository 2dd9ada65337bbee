// The HKEY_LOCAL_MACHINE hive's key tree. Its text is in hive_text.cpp, the
// machine's copy of it (system.reg and the change log) in hive_store.cpp.
#include "platform/sim/registry/hive.h"

namespace winsim {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows folds only the letters when it compares key and value names; the
// other bytes of a single-byte name compare as they are.
std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = LowerAscii(c);
  return out;
}

}  // namespace

// --- keys ------------------------------------------------------------------------

RegKey* RegKey::Child(const std::string& child) const {
  auto it = index.find(Lower(child));
  return it == index.end() ? nullptr : it->second;
}

RegKey* RegKey::AddChild(const std::string& child) {
  std::string lower = Lower(child);
  auto it = index.find(lower);
  if (it != index.end()) return it->second;
  auto key = std::make_unique<RegKey>();
  key->name = child;
  key->parent = this;
  RegKey* raw = key.get();
  subkeys.push_back(std::move(key));
  index.emplace(lower, raw);
  if (ChangeRecording* recording = ChangeRecording::For(*this)) recording->KeyAdded(*raw);
  return raw;
}

bool RegKey::RemoveChild(const std::string& child) {
  auto it = index.find(Lower(child));
  if (it == index.end()) return false;
  RegKey* raw = it->second;
  if (ChangeRecording* recording = ChangeRecording::For(*this)) recording->KeyRemoved(FullKeyName(*raw));
  index.erase(it);
  for (auto sub = subkeys.begin(); sub != subkeys.end(); ++sub) {
    if (sub->get() == raw) {
      subkeys.erase(sub);
      break;
    }
  }
  return true;
}

const RegValue* RegKey::Value(const std::string& value_name) const {
  for (const RegValue& v : values)
    if (EqualNoCase(v.name, value_name)) return &v;
  return nullptr;
}

void RegKey::SetValue(const std::string& value_name, DWORD type, const uint8_t* data, size_t size) {
  RegValue* target = nullptr;
  for (RegValue& v : values)
    if (EqualNoCase(v.name, value_name)) target = &v;
  if (!target) {
    values.emplace_back();
    target = &values.back();
    target->name = value_name;  // an overwritten value keeps the case of its first name
  }
  target->type = type;
  target->data.assign(data, data + size);
  if (ChangeRecording* recording = ChangeRecording::For(*this)) recording->ValueSet(*this, *target);
}

bool RegKey::RemoveValue(const std::string& value_name) {
  for (auto v = values.begin(); v != values.end(); ++v) {
    if (EqualNoCase(v->name, value_name)) {
      // Written down first: the name given may be the removed value's own.
      if (ChangeRecording* recording = ChangeRecording::For(*this)) recording->ValueRemoved(*this, value_name);
      values.erase(v);
      return true;
    }
  }
  return false;
}

std::string RegKey::Path() const {
  if (!parent) return "";
  std::string above = parent->Path();
  return above.empty() ? name : above + "\\" + name;
}

// --- the hive ----------------------------------------------------------------------

Hive::Hive() : root_(std::make_unique<RegKey>()) {}

RegKey* Hive::Find(const std::string& path) const {
  RegKey* key = root_.get();
  for (const std::string& part : SplitKeyPath(path)) {
    key = key->Child(part);
    if (!key) return nullptr;
  }
  return key;
}

RegKey* Hive::Create(const std::string& path) {
  RegKey* key = root_.get();
  for (const std::string& part : SplitKeyPath(path)) key = key->AddChild(part);
  return key;
}

bool Hive::Remove(const std::string& path) {
  RegKey* key = Find(path);
  if (!key || !key->parent) return false;
  return key->parent->RemoveChild(key->name);
}


std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace winsim
