#include "platform/registry/reg_file.h"

#include <optional>

#include "common/hresult.h"
#include "common/utf.h"
#include "platform/registry/reg_names.h"

namespace qv::platform {
namespace {

constexpr std::size_t kWrapColumn = 78;  // Regedit wraps hex lists near 80 columns
constexpr std::string_view kHexDigits = "0123456789abcdef";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}
std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses 1..8 hex digits, the whole of `s`.
std::optional<std::uint32_t> ParseHex32(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : s) {
    const int d = HexValue(c);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// Text as a quoted string may hold anything but control characters (tab excepted).
bool Quotable(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  }
  return true;
}

void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendHexList(std::string& out, std::string line, std::span<const std::uint8_t> bytes) {
  bool lineHasBytes = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t tokenSize = i + 1 < bytes.size() ? 3 : 2;
    if (lineHasBytes && line.size() + tokenSize + 1 > kWrapColumn) {
      out += line;
      out += "\\\n";
      line = "  ";
      lineHasBytes = false;
    }
    line += kHexDigits[bytes[i] >> 4];
    line += kHexDigits[bytes[i] & 0x0F];
    if (i + 1 < bytes.size()) line += ',';
    lineHasBytes = true;
  }
  out += line;
  out += '\n';
}

std::vector<std::uint8_t> TerminatedUtf16(std::string_view s) {
  std::vector<std::uint8_t> b = Utf8ToUtf16LeBytes(s);
  b.push_back(0);
  b.push_back(0);
  return b;
}

std::size_t StoredSize(const RegValue& v) {
  switch (v.type) {
    case RegType::Dword: return 4;
    case RegType::Sz:
    case RegType::ExpandSz: return (Utf16Length(v.text) + 1) * 2;
    case RegType::Binary: return v.binary.size();
    case RegType::MultiSz: {
      std::size_t n = 2;
      for (const auto& s : v.strings) n += (Utf16Length(s) + 1) * 2;
      return n;
    }
  }
  return 0;
}

class Parser {
 public:
  Parser(std::string_view text, Hive hive, RegKey& root, RegParseError* err)
      : text_(text), hive_(hive), root_(root), err_(err) {}

  std::int32_t Run() {
    std::string_view line;
    // Leading blank lines are tolerated; a file of nothing but blanks is an empty hive.
    do {
      if (!NextLine(line)) return failed_ ? win32::ERROR_BADDB : 0;
    } while (TrimLeft(line).empty());
    if (TrimRight(TrimLeft(line)) != kRegFileHeader) {
      return Fail("the first line is not \"" + std::string(kRegFileHeader) + "\"");
    }
    while (NextLine(line)) {
      const std::string_view s = TrimLeft(line);
      if (s.empty() || s.front() == ';') continue;
      std::int32_t rc = 0;
      if (s.front() == '[') {
        rc = KeyLine(TrimRight(s));
      } else if (s.front() == '"' || s.front() == '@') {
        rc = ValueLine(s);
      } else {
        rc = Fail("expected a [key] line or a \"name\"=value line");
      }
      if (rc != 0) return rc;
    }
    return failed_ ? win32::ERROR_BADDB : 0;
  }

 private:
  std::int32_t Fail(std::string message) {
    failed_ = true;
    if (err_) {
      err_->code = win32::ERROR_BADDB;
      err_->line = lineNo_;
      err_->message = std::move(message);
    }
    return win32::ERROR_BADDB;
  }

  // The next line without its end; false at the end of the text or on a line that is not
  // text (then failed_ is set).
  bool NextLine(std::string_view& line) {
    if (failed_ || pos_ >= text_.size()) return false;
    const std::size_t nl = text_.find('\n', pos_);
    const std::size_t end = nl == std::string_view::npos ? text_.size() : nl;
    line = text_.substr(pos_, end - pos_);
    pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
    ++lineNo_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos || line.find('\r') != std::string_view::npos) {
      Fail("control character in the line");
      return false;
    }
    if (!IsValidUtf8(line)) {
      Fail("the line is not valid UTF-8");
      return false;
    }
    return true;
  }

  std::int32_t KeyLine(std::string_view s) {
    if (s.size() < 2 || s.back() != ']') return Fail("a key line must end with ']'");
    std::string_view path = s.substr(1, s.size() - 2);
    if (!path.empty() && path.front() == '-') {
      return Fail("key deletion lines ([-...]) do not belong in a hive file");
    }
    const std::size_t sep = path.find('\\');
    const std::string_view hiveName = path.substr(0, sep);
    Hive h;
    if (!ParseHiveName(hiveName, h) || h != hive_) {
      return Fail("the key is not in " + std::string(HiveName(hive_)));
    }
    const std::string_view rest =
        sep == std::string_view::npos ? std::string_view() : path.substr(sep + 1);
    if (sep != std::string_view::npos && rest.empty()) return Fail("empty key name");
    const std::int32_t rc = SplitKeyPath(rest, parts_);
    if (rc == win32::ERROR_FILENAME_EXCED_RANGE) {
      return Fail("key name longer than 255 characters or more than 512 levels deep");
    }
    if (rc != 0) return Fail("empty key name or control character in a key name");
    current_ = &root_;
    for (const std::string_view part : parts_) current_ = &current_->AddSubkey(part);
    return 0;
  }

  // Parses the quoted string starting at s[i] (a '"'); leaves i after the closing quote.
  std::int32_t Quoted(std::string_view s, std::size_t& i, std::string& out) {
    out.clear();
    for (++i; i < s.size(); ++i) {
      const char c = s[i];
      if (c == '"') {
        ++i;
        return 0;
      }
      if (c == '\\') {
        if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
          return Fail("unknown escape in a string (write a backslash as \\\\)");
        }
        out += s[++i];
      } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
        return Fail("control character in a string");
      } else {
        out += c;
      }
    }
    return Fail("string without its closing quote (strings cannot span lines)");
  }

  std::int32_t ValueLine(std::string_view s) {
    if (current_ == nullptr) return Fail("a value before the first [key] line");
    std::string name;
    std::size_t i = 0;
    if (s.front() == '@') {
      i = 1;
    } else if (const std::int32_t rc = Quoted(s, i, name); rc != 0) {
      return rc;
    }
    if (const std::int32_t rc = CheckValueName(name); rc != 0) {
      return Fail(rc == win32::ERROR_FILENAME_EXCED_RANGE ? "value name longer than 16383 characters"
                                                          : "invalid value name");
    }
    std::string_view rest = TrimLeft(s.substr(i));
    if (rest.empty() || rest.front() != '=') return Fail("expected '=' after the value name");
    rest = TrimLeft(rest.substr(1));

    RegValue value;
    if (!rest.empty() && rest.front() == '"') {
      std::size_t j = 0;
      std::string text;
      if (const std::int32_t rc = Quoted(rest, j, text); rc != 0) return rc;
      if (!TrimLeft(rest.substr(j)).empty()) return Fail("text after the closing quote");
      value = RegValue::Sz(text);
    } else if (StartsWithNoCase(rest, "dword:")) {
      const auto v = ParseHex32(TrimRight(rest.substr(6)));
      if (!v) return Fail("dword: needs 1 to 8 hex digits");
      value = RegValue::Dword(*v);
    } else if (StartsWithNoCase(rest, "hex")) {
      if (const std::int32_t rc = HexValueData(rest.substr(3), value); rc != 0) return rc;
    } else if (!rest.empty() && rest.front() == '-') {
      return Fail("value deletion (=-) does not belong in a hive file");
    } else {
      return Fail("unknown value data (expected \"text\", dword: or hex:)");
    }
    if (StoredSize(value) > kMaxValueBytes) return Fail(kValueTooLarge);
    current_->SetValue(name, value);
    return 0;
  }

  // After "hex": "(t):list" or ":list", the list continued over lines ending in '\'.
  std::int32_t HexValueData(std::string_view s, RegValue& value) {
    std::uint32_t type = static_cast<std::uint32_t>(RegType::Binary);
    if (!s.empty() && s.front() == '(') {
      const std::size_t close = s.find(')');
      const auto t = close == std::string_view::npos ? std::nullopt : ParseHex32(s.substr(1, close - 1));
      if (!t) return Fail("hex(type) needs a hex type number");
      type = *t;
      s.remove_prefix(close + 1);
    }
    if (s.empty() || s.front() != ':') return Fail("expected ':' after hex");
    s.remove_prefix(1);

    std::string list;
    while (true) {
      s = TrimRight(s);
      if (s.empty() || s.back() != '\\') {
        list += s;
        break;
      }
      s.remove_suffix(1);
      list += s;
      if (list.size() > 3 * kMaxValueBytes) return Fail(kValueTooLarge);
      std::string_view next;
      if (!NextLine(next)) return failed_ ? win32::ERROR_BADDB : Fail("the file ends inside a continued value");
      s = TrimLeft(next);
    }

    std::vector<std::uint8_t> bytes;
    std::string_view rest = list;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const std::string_view token = TrimRight(TrimLeft(rest.substr(0, comma)));
      const auto b = token.size() > 2 ? std::nullopt : ParseHex32(token);
      if (!b) return Fail("a hex list holds two-digit hex bytes separated by commas");
      bytes.push_back(static_cast<std::uint8_t>(*b));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
      if (rest.empty()) return Fail("a hex list must not end with a comma");
    }
    if (bytes.size() > kMaxValueBytes) return Fail(kValueTooLarge);

    switch (type) {
      case 3: value = RegValue::Binary(std::move(bytes)); return 0;
      case 4:
        if (bytes.size() != 4) return Fail("hex(4) needs exactly 4 bytes");
        value = RegValue::Dword(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                static_cast<std::uint32_t>(bytes[3]) << 24);
        return 0;
      case 1:
      case 2: {
        std::string text;
        if (const std::int32_t rc = Utf16Text(bytes, text); rc != 0) return rc;
        if (!text.empty() && text.back() == '\0') text.pop_back();
        value = type == 1 ? RegValue::Sz(text) : RegValue::ExpandSz(text);
        return 0;
      }
      case 7: {
        std::string text;
        if (const std::int32_t rc = Utf16Text(bytes, text); rc != 0) return rc;
        // Each string ends with NUL and one more NUL ends the list; a missing final NUL is
        // tolerated, as Windows readers tolerate it.
        if (!text.empty() && text.back() == '\0') text.pop_back();
        std::vector<std::string> strings;
        std::size_t start = 0;
        while (start < text.size()) {
          const std::size_t nul = text.find('\0', start);
          strings.emplace_back(text.substr(start, nul == std::string::npos ? nul : nul - start));
          if (nul == std::string::npos) break;
          start = nul + 1;
        }
        value = RegValue::MultiSz(std::move(strings));
        return 0;
      }
      default:
        return Fail("value type hex(" + std::to_string(type) +
                    ") is not supported (only REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD and "
                    "REG_MULTI_SZ)");
    }
  }

  std::int32_t Utf16Text(std::span<const std::uint8_t> bytes, std::string& out) {
    if (bytes.size() % 2 != 0) return Fail("UTF-16 text with an odd number of bytes");
    bool ok = true;
    out = Utf16LeBytesToUtf8(bytes, &ok);
    if (!ok) return Fail("invalid UTF-16 text");
    return 0;
  }

  std::string_view text_;
  Hive hive_;
  RegKey& root_;
  RegParseError* err_;
  RegKey* current_ = nullptr;
  std::size_t pos_ = 0;
  std::size_t lineNo_ = 0;
  bool failed_ = false;
  std::vector<std::string_view> parts_;
};

}  // namespace

std::string RegParseError::Describe() const {
  return line == 0 ? message : "line " + std::to_string(line) + ": " + message;
}

std::int32_t ParseRegText(std::string_view text, Hive hive, RegKey& root, RegParseError* err) {
  if (text.size() > kMaxHiveBytes) {
    if (err) *err = {win32::ERROR_BADDB, 0, kHiveTooLarge};
    return win32::ERROR_BADDB;
  }
  std::string decoded;
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    // A file saved by Regedit itself: UTF-16LE with a byte order mark.
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data()) + 2;
    bool ok = text.size() % 2 == 0;
    decoded = Utf16LeBytesToUtf8(std::span(p, text.size() - 2), &ok);
    if (!ok) {
      if (err) *err = {win32::ERROR_BADDB, 0, "the file is not valid UTF-16 text"};
      return win32::ERROR_BADDB;
    }
    text = decoded;
  } else if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  return Parser(text, hive, root, err).Run();
}

std::int32_t CheckValue(const RegValue& v) {
  switch (v.type) {
    case RegType::Dword:
    case RegType::Binary: break;
    case RegType::Sz:
    case RegType::ExpandSz:
      if (!IsValidUtf8(v.text)) return win32::ERROR_INVALID_PARAMETER;
      break;
    case RegType::MultiSz:
      for (const auto& s : v.strings) {
        if (!IsValidUtf8(s) || s.find('\0') != std::string::npos) {
          return win32::ERROR_INVALID_PARAMETER;
        }
      }
      break;
    default: return win32::ERROR_INVALID_PARAMETER;
  }
  return StoredSize(v) > kMaxValueBytes ? win32::ERROR_INVALID_PARAMETER : 0;
}

void FormatRegValue(std::string& out, std::string_view name, const RegValue& v) {
  std::string line;
  if (name.empty()) {
    line = "@";
  } else {
    AppendQuoted(line, name);
  }
  line += '=';
  switch (v.type) {
    case RegType::Dword: {
      line += "dword:";
      for (int shift = 28; shift >= 0; shift -= 4) line += kHexDigits[(v.dword >> shift) & 0xF];
      out += line;
      out += '\n';
      return;
    }
    case RegType::Sz:
      if (Quotable(v.text)) {
        AppendQuoted(line, v.text);
        out += line;
        out += '\n';
        return;
      }
      line += "hex(1):";
      AppendHexList(out, std::move(line), TerminatedUtf16(v.text));
      return;
    case RegType::ExpandSz:
      line += "hex(2):";
      AppendHexList(out, std::move(line), TerminatedUtf16(v.text));
      return;
    case RegType::MultiSz: {
      std::vector<std::uint8_t> bytes;
      for (const auto& s : v.strings) {
        const auto b = TerminatedUtf16(s);
        bytes.insert(bytes.end(), b.begin(), b.end());
      }
      bytes.push_back(0);
      bytes.push_back(0);
      line += "hex(7):";
      AppendHexList(out, std::move(line), bytes);
      return;
    }
    case RegType::Binary:
      line += "hex:";
      AppendHexList(out, std::move(line), v.binary);
      return;
  }
}

void FormatRegKey(std::string& out, const std::string& path, const RegKey& key) {
  out += '[';
  out += path;
  out += "]\n";
  for (const auto& [name, value] : key.values()) FormatRegValue(out, name, value);
  out += '\n';
  for (const auto& sub : key.subkeys()) FormatRegKey(out, path + '\\' + sub->name(), *sub);
}

std::string FormatRegText(const RegKey& root) {
  std::string out(kRegFileHeader);
  out += "\n\n";
  FormatRegKey(out, root.name(), root);
  return out;
}

}  // namespace qv::platform
