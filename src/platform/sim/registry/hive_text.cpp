// The hive's text: system.reg in REGEDIT4, and the records of its change log
// (hive_store.cpp) in regedit's merge syntax, applied again by every reader
// (hive_record.cpp writes them down).
#include <cstdio>
#include <cstring>

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine.h"

namespace winsim {

namespace {

const char kRootName[] = "HKEY_LOCAL_MACHINE";

// --- writing -------------------------------------------------------------------

bool IsPrintable(uint8_t b) { return b >= 0x20 && b != 0x7f; }

bool NeedsEscape(char c) { return c == '\\' || c == '"' || c == '\n' || c == '\r'; }

// A quoted name or string: backslash and quote escaped; the line breaks that
// a value name may hold are written \r and \n so that the line stays whole.

void AppendQuoted(std::string* out, const char* text, size_t size) {
  *out += '"';
  size_t run = 0;  // the start of the characters that stand for themselves
  for (size_t i = 0; i < size; ++i) {
    char c = text[i];
    if (!NeedsEscape(c)) continue;
    out->append(text + run, i - run);
    run = i + 1;
    *out += '\\';
    *out += c == '\n' ? 'n' : c == '\r' ? 'r' : c;
  }
  out->append(text + run, size - run);
  *out += '"';
}

// REG_SZ is written as text only when it is exactly printable text and one
// terminating NUL, so that a round trip gives back the same bytes.
bool IsPlainString(const RegValue& v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i)
    if (!IsPrintable(v.data[i])) return false;
  return true;
}

const char kHexDigits[] = "0123456789abcdef";

// hex:aa,bb,... continued with "\" past 76 columns, as regedit does.
void AppendHex(std::string* out, size_t line_start, const std::vector<uint8_t>& data) {
  for (size_t i = 0; i < data.size(); ++i) {
    *out += kHexDigits[data[i] >> 4];
    *out += kHexDigits[data[i] & 15];
    if (i + 1 == data.size()) break;
    *out += ',';
    if (out->size() - line_start > 76) {
      *out += "\\\n  ";
      line_start = out->size() - 2;
    }
  }
}

void AppendValue(std::string* out, const RegValue& v) {
  size_t line_start = out->size();
  if (v.name.empty()) {
    *out += '@';
  } else {
    AppendQuoted(out, v.name.data(), v.name.size());
  }
  *out += '=';
  if (IsPlainString(v)) {
    AppendQuoted(out, reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1);
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    char text[16];
    uint32_t d = static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                 static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    snprintf(text, sizeof text, "dword:%08x", d);
    *out += text;
  } else {
    if (v.type == REG_BINARY) {
      *out += "hex:";
    } else {
      char text[24];
      snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(v.type));
      *out += text;
    }
    AppendHex(out, line_start, v.data);
  }
  *out += '\n';
}

// `path` holds the key's full name; it is extended for the subkeys and given
// back as it was.
void AppendKey(std::string* out, const RegKey& key, std::string* path) {
  // The root appears only when it holds values; every other key always does,
  // so that empty keys survive.
  if (key.parent || !key.values.empty()) {
    *out += "\n[";
    *out += *path;
    *out += "]\n";
    for (const RegValue& v : key.values) AppendValue(out, v);
  }
  size_t length = path->size();
  for (const auto& sub : key.subkeys) {
    *path += '\\';
    *path += sub->name;
    AppendKey(out, *sub, path);
    path->resize(length);
  }
}

// --- reading -------------------------------------------------------------------

class Parser {
 public:
  Parser(const std::string& text, const std::string& file, int first_line = 0)
      : text_(text), file_(file), line_no_(first_line) {}

  Hive Run() {
    Hive hive;
    Lines(&hive, false);
    return hive;
  }

  // Records of the change log: no header line; "[-key]" removes a key and
  // its tree, "name"=- a value, as in regedit's merge files.
  void Apply(Hive* hive) { Lines(hive, true); }

 private:
  void Lines(Hive* hive, bool changes) {
    RegKey* key = nullptr;
    bool header = changes;
    std::string line;
    while (NextLine(&line)) {
      if (line.empty() || line[0] == ';') continue;
      if (!header) {
        if (line != "REGEDIT4") Fail("expected REGEDIT4");
        header = true;
      } else if (changes && line.compare(0, 2, "[-") == 0) {
        std::string path = KeyName(line, 2);
        hive->Remove(path.substr(sizeof kRootName - 1));
        key = nullptr;  // it may have gone with the tree, and so may the trail
        trail_.clear();
      } else if (line[0] == '[') {
        key = Section(hive, line);
      } else {
        if (!key) Fail("value outside a key");
        ValueLine(key, line, changes);
      }
    }
    if (!header) Fail("expected REGEDIT4");
  }

  [[noreturn]] void Fail(const std::string& reason) const {
    throw MachineError(file_ + ":" + std::to_string(line_no_) + ": " + reason);
  }

  // One line without its line end and trailing blanks.
  bool NextLine(std::string* line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    line->assign(text_, pos_, end - pos_);
    pos_ = end + 1;
    ++line_no_;
    while (!line->empty() && (line->back() == '\r' || line->back() == ' ' || line->back() == '\t'))
      line->pop_back();
    return true;
  }

  static bool StartsWithRoot(const std::string& path) {
    for (size_t i = 0; i + 1 < sizeof kRootName; ++i) {
      char c = path[i];
      if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != kRootName[i]) return false;
    }
    return true;
  }

  // The full key name of a key line, which starts at `from`.
  std::string& KeyName(const std::string& line, size_t from) {
    if (line.back() != ']') Fail("missing ] after the key name");
    std::string& path = key_name_;
    path.assign(line, from, line.size() - 1 - from);
    size_t root_len = sizeof kRootName - 1;
    if (path.size() < root_len || !StartsWithRoot(path) ||
        (path.size() > root_len && path[root_len] != '\\'))
      Fail("key outside HKEY_LOCAL_MACHINE: " + path);
    return path;
  }

  // The parts of a key name below HKEY_LOCAL_MACHINE, as SplitKeyPath
  // splits them: (start, length) in parts_.
  void SplitParts(const std::string& path) {
    parts_.clear();
    size_t start = sizeof kRootName - 1;
    for (size_t i = start; i <= path.size(); ++i) {
      if (i < path.size() && path[i] != '\\') continue;
      if (i > start) parts_.emplace_back(start, i - start);
      start = i + 1;
    }
  }

  RegKey* Section(Hive* hive, const std::string& line) {
    const std::string& path = KeyName(line, 1);
    SplitParts(path);
    // Sections come depth first: most share all but their last part with
    // the section before, whose keys are kept along its parts.
    size_t same = 0;
    while (same < parts_.size() && same < trail_.size() &&
           trail_[same].first.compare(0, std::string::npos, path, parts_[same].first, parts_[same].second) == 0)
      ++same;
    trail_.resize(same);
    RegKey* key = same ? trail_.back().second : &hive->root();
    for (size_t i = same; i < parts_.size(); ++i) {
      trail_.emplace_back(path.substr(parts_[i].first, parts_[i].second), nullptr);
      key = trail_.back().second = key->AddChild(trail_.back().first);
    }
    return key;
  }

  // A quoted string starting at s[*i] == '"', into *out; leaves *i behind
  // the closing quote.
  void Unquote(const std::string& s, size_t* i, std::string* out) {
    out->clear();
    for (++*i; *i < s.size(); ++*i) {
      // The characters that stand for themselves, at once.
      size_t run = *i;
      while (run < s.size() && s[run] != '"' && s[run] != '\\') ++run;
      out->append(s, *i, run - *i);
      *i = run;
      if (run == s.size()) break;
      char c = s[*i];
      if (c == '"') {
        ++*i;
        return;
      }
      if (++*i >= s.size()) break;  // a backslash: the escaped character follows
      switch (s[*i]) {
        case '\\': *out += '\\'; break;
        case '"': *out += '"'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        default: Fail(std::string("unknown escape \\") + s[*i]);
      }
    }
    Fail("unterminated string");
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::vector<uint8_t> HexBytes(const std::string& s) {
    std::vector<uint8_t> out;
    size_t i = 0;
    auto skip_blanks = [&] {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    };
    skip_blanks();
    if (i == s.size()) return out;
    for (;;) {
      skip_blanks();
      int value = 0, digits = 0;
      while (i < s.size() && HexDigit(s[i]) >= 0 && digits < 3) value = value * 16 + HexDigit(s[i++]), ++digits;
      if (digits == 0 || digits > 2) Fail("bad hex byte");
      out.push_back(static_cast<uint8_t>(value));
      skip_blanks();
      if (i == s.size()) return out;
      if (s[i] != ',') Fail("bad hex byte");
      ++i;
      skip_blanks();
      if (i == s.size()) return out;  // a trailing comma
    }
  }

  void ValueLine(RegKey* key, const std::string& line, bool changes) {
    // The buffers are the parser's, so that a line allocates nothing.
    std::string& name = name_;
    std::vector<uint8_t>& bytes = bytes_;
    size_t i = 0;
    name.clear();
    if (line[0] == '@') {
      i = 1;
    } else if (line[0] == '"') {
      Unquote(line, &i, &name);
    } else {
      Fail("expected a value name");
    }
    if (i >= line.size() || line[i] != '=') Fail("expected = after the value name");
    if (changes && line.compare(i + 1, std::string::npos, "-") == 0) {
      key->RemoveValue(name);
      return;
    }
    DWORD type;
    if (i + 1 < line.size() && line[i + 1] == '"') {
      size_t j = i + 1;
      Unquote(line, &j, &string_);
      if (j != line.size()) Fail("text after the string");
      type = REG_SZ;
      bytes.assign(string_.begin(), string_.end());
      bytes.push_back(0);
      key->SetValue(name, type, bytes.data(), bytes.size());
      return;
    }
    std::string data = line.substr(i + 1);
    if (EqualNoCase(data.substr(0, 6), "dword:")) {
      std::string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) Fail("bad dword");
      uint32_t d = 0;
      for (char c : digits) {
        if (HexDigit(c) < 0) Fail("bad dword");
        d = d * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      type = REG_DWORD;
      bytes = {static_cast<uint8_t>(d), static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d >> 16),
               static_cast<uint8_t>(d >> 24)};
    } else if (EqualNoCase(data.substr(0, 3), "hex")) {
      size_t colon = data.find(':');
      if (colon == std::string::npos) Fail("expected : after hex");
      std::string kind = data.substr(3, colon - 3);
      if (kind.empty()) {
        type = REG_BINARY;
      } else {
        if (kind.size() < 3 || kind[0] != '(' || kind.back() != ')' || kind.size() > 10) Fail("bad hex type");
        type = 0;
        for (size_t k = 1; k + 1 < kind.size(); ++k) {
          if (HexDigit(kind[k]) < 0) Fail("bad hex type");
          type = type * 16 + static_cast<DWORD>(HexDigit(kind[k]));
        }
      }
      std::string hex = data.substr(colon + 1);
      // Continuation lines, as regedit writes long binary data.
      while (!hex.empty() && hex.back() == '\\') {
        hex.pop_back();
        std::string next;
        if (!NextLine(&next)) Fail("missing continuation line");
        size_t start = next.find_first_not_of(" \t");
        hex += start == std::string::npos ? "" : next.substr(start);
      }
      bytes = HexBytes(hex);
    } else {
      Fail("unknown value data");
    }
    key->SetValue(name, type, bytes.data(), bytes.size());
  }

  const std::string& text_;
  const std::string& file_;
  size_t pos_ = 0;
  int line_no_ = 0;
  // The parts of the section before and the keys they lead to.
  std::vector<std::pair<std::string, RegKey*>> trail_;
  std::vector<std::pair<size_t, size_t>> parts_;
  std::string key_name_, name_, string_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

void AppendValueLine(std::string* out, const RegValue& value) { AppendValue(out, value); }

void AppendQuotedName(std::string* out, const std::string& name) {
  if (name.empty()) {
    *out += '@';
  } else {
    AppendQuoted(out, name.data(), name.size());
  }
}

Hive Hive::Parse(const std::string& text, const std::string& file) { return Parser(text, file).Run(); }

void ApplyChanges(Hive* hive, const std::string& text, const std::string& file, int first_line) {
  Parser(text, file, first_line).Apply(hive);
}

void SerializeInto(const Hive& hive, std::string* out) {
  out->clear();
  *out += "REGEDIT4\n";
  std::string path = kRootName;
  AppendKey(out, hive.root(), &path);
}

std::string FullKeyName(const RegKey& key) {
  std::string path = key.Path();
  return path.empty() ? std::string(kRootName) : std::string(kRootName) + "\\" + path;
}

std::string Hive::Serialize() const {
  std::string out;
  SerializeInto(*this, &out);
  return out;
}

}  // namespace winsim
