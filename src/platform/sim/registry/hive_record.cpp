// A change of the hive written down as it is made: one record of the change
// log (hive_store.cpp), in the lines that ApplyChanges reads back.
#include "platform/sim/registry/hive.h"

namespace winsim {

namespace {

ChangeRecording* active_recording = nullptr;

}  // namespace

ChangeRecording::ChangeRecording(const Hive& hive) : root_(&hive.root()), outer_(active_recording) {
  active_recording = this;
}

ChangeRecording::~ChangeRecording() { active_recording = outer_; }

ChangeRecording* ChangeRecording::For(const RegKey& key) {
  if (!active_recording) return nullptr;
  const RegKey* root = &key;
  while (root->parent) root = root->parent;
  return root == active_recording->root_ ? active_recording : nullptr;
}

void ChangeRecording::Select(const RegKey& key) {
  if (selected_ == &key) return;
  text_ += "\n[" + FullKeyName(key) + "]\n";
  selected_ = &key;
}

void ChangeRecording::KeyAdded(const RegKey& key) { Select(key); }

void ChangeRecording::KeyRemoved(const std::string& full_path) {
  text_ += "\n[-" + full_path + "]\n";
  selected_ = nullptr;  // it may have been in the tree that went
}

void ChangeRecording::ValueSet(const RegKey& key, const RegValue& value) {
  Select(key);
  AppendValueLine(&text_, value);
}

void ChangeRecording::ValueRemoved(const RegKey& key, const std::string& name) {
  Select(key);
  AppendQuotedName(&text_, name);
  text_ += "=-\n";
}

}  // namespace winsim
