#include "mail/thunderbird/host_message.h"

#include <map>
#include <variant>

#include "common/utf.h"

namespace qv::mail::tb {

namespace {

using Value = std::variant<std::monostate, bool, std::int64_t, std::string>;

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  bool Object(std::map<std::string, Value>& out, std::string& why) {
    Space();
    if (!Take('{')) return Fail(why, "not a JSON object");
    Space();
    if (Take('}')) return End(why);
    for (;;) {
      Space();
      std::string key;
      if (!String(key, why)) return false;
      Space();
      if (!Take(':')) return Fail(why, "a key without its value");
      Space();
      Value v;
      if (!Scalar(v, why)) return false;
      if (!out.emplace(std::move(key), std::move(v)).second) return Fail(why, "a key given twice");
      if (out.size() > 16) return Fail(why, "too many keys");
      Space();
      if (Take(',')) continue;
      if (Take('}')) return End(why);
      return Fail(why, "malformed object");
    }
  }

 private:
  bool End(std::string& why) {
    Space();
    return pos_ == s_.size() || Fail(why, "text after the object");
  }
  bool Fail(std::string& why, const char* reason) {
    why = reason;
    return false;
  }
  void Space() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Take(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    if (s_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  bool Scalar(Value& v, std::string& why) {
    if (pos_ >= s_.size()) return Fail(why, "a value is missing");
    const char c = s_[pos_];
    if (c == '"') {
      std::string text;
      if (!String(text, why)) return false;
      v = std::move(text);
      return true;
    }
    if (Word("true")) return v = true, true;
    if (Word("false")) return v = false, true;
    if (Word("null")) return v = std::monostate{}, true;
    if (c == '-' || (c >= '0' && c <= '9')) return Integer(v, why);
    if (c == '{' || c == '[') return Fail(why, "nested values are not accepted");
    return Fail(why, "not a JSON value");
  }

  bool Integer(Value& v, std::string& why) {
    const bool negative = Take('-');
    if (pos_ >= s_.size() || s_[pos_] < '0' || s_[pos_] > '9') return Fail(why, "malformed number");
    if (s_[pos_] == '0' && pos_ + 1 < s_.size() && s_[pos_ + 1] >= '0' && s_[pos_ + 1] <= '9') {
      return Fail(why, "malformed number");
    }
    std::int64_t n = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      if (n > (INT64_C(1) << 52)) return Fail(why, "number out of range");
      n = n * 10 + (s_[pos_++] - '0');
    }
    if (pos_ < s_.size() && (s_[pos_] == '.' || s_[pos_] == 'e' || s_[pos_] == 'E')) {
      return Fail(why, "only whole numbers are accepted");
    }
    v = negative ? -n : n;
    return true;
  }

  bool Hex4(std::uint32_t& out) {
    if (s_.size() - pos_ < 4) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9') out |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') out |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') out |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  static void Append(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool String(std::string& out, std::string& why) {
    if (!Take('"')) return Fail(why, "a string was expected");
    for (;;) {
      if (out.size() > kMaxFieldChars * 4) return Fail(why, "a string is too long");
      if (pos_ >= s_.size()) return Fail(why, "an unterminated string");
      const auto c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') break;
      if (c < 0x20) return Fail(why, "a control character in a string");
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (pos_ >= s_.size()) return Fail(why, "an unterminated string");
      const char e = s_[pos_++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          std::uint32_t cp = 0;
          if (!Hex4(cp)) return Fail(why, "a malformed \\u escape");
          if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail(why, "a lone surrogate");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
              return Fail(why, "a lone surrogate");
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          if (cp == 0) return Fail(why, "a NUL character in a string");
          Append(out, cp);
          break;
        }
        default: return Fail(why, "an unknown escape");
      }
    }
    bool ok = true;
    const std::u16string wide = Utf8ToUtf16(out, &ok);
    if (!ok) return Fail(why, "a string that is not UTF-8");
    if (wide.size() > kMaxFieldChars) return Fail(why, "a string is too long");
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

bool TakeString(const std::map<std::string, Value>& m, const char* key, std::string& out,
                std::string& why) {
  auto it = m.find(key);
  if (it == m.end() || !std::holds_alternative<std::string>(it->second) ||
      std::get<std::string>(it->second).empty()) {
    why = std::string("\"") + key + "\" must be a non-empty string";
    return false;
  }
  out = std::get<std::string>(it->second);
  return true;
}

bool TakeTab(const std::map<std::string, Value>& m, std::int64_t& out, std::string& why) {
  auto it = m.find("tab");
  if (it == m.end() || !std::holds_alternative<std::int64_t>(it->second) ||
      std::get<std::int64_t>(it->second) < 0) {
    why = "\"tab\" must be a whole number of 0 or more";
    return false;
  }
  out = std::get<std::int64_t>(it->second);
  return true;
}

}  // namespace

HRESULT ParseHostMessage(std::string_view json, HostMessage& out, std::string& why) {
  out = HostMessage{};
  std::map<std::string, Value> fields;
  Reader reader(json);
  if (!reader.Object(fields, why)) return E_INVALIDARG;
  std::string type;
  if (!TakeString(fields, "type", type, why)) return E_INVALIDARG;
  if (type == "hello") {
    out.type = HostMessage::Type::Hello;
    return S_OK;
  }
  if (type == "closed") {
    out.type = HostMessage::Type::Closed;
    return TakeTab(fields, out.tab, why) ? S_OK : E_INVALIDARG;
  }
  if (type == "displayed") {
    out.type = HostMessage::Type::Displayed;
    if (!TakeTab(fields, out.tab, why) || !TakeString(fields, "messageId", out.messageId, why) ||
        !TakeString(fields, "folder", out.folder, why) ||
        !TakeString(fields, "account", out.account, why)) {
      return E_INVALIDARG;
    }
    return S_OK;
  }
  why = "unknown message type";
  return E_INVALIDARG;
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(ch);
    } else if (c < 0x20) {
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(ch);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace qv::mail::tb
