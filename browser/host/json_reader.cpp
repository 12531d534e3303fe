#include "browser/host/json_reader.h"

#include <cstdlib>

#include "common/utf.h"

namespace qv::browser {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  bool Document(JsonValue& out) {
    Space();
    if (!Value(out, 0)) return false;
    Space();
    return at_ == s_.size() || Fail("text after the value");
  }
  const std::string& error() const { return error_; }

 private:
  bool Fail(const char* why) {
    if (error_.empty()) error_ = std::string(why) + " at byte " + std::to_string(at_);
    return false;
  }
  void Space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return Fail("unknown word");
    at_ += w.size();
    return true;
  }

  bool Value(JsonValue& v, std::size_t depth) {
    if (at_ >= s_.size()) return Fail("value missing");
    switch (s_[at_]) {
      case '{': return Object(v, depth + 1);
      case '[': return Array(v, depth + 1);
      case '"': v.type = JsonValue::Type::String; return String(v.string);
      case 't': v.type = JsonValue::Type::Bool; v.boolean = true; return Word("true");
      case 'f': v.type = JsonValue::Type::Bool; v.boolean = false; return Word("false");
      case 'n': v.type = JsonValue::Type::Null; return Word("null");
      default: return Number(v);
    }
  }

  bool Object(JsonValue& v, std::size_t depth) {
    if (depth > kMaxJsonDepth) return Fail("nested too deeply");
    v.type = JsonValue::Type::Object;
    ++at_;
    Space();
    if (at_ < s_.size() && s_[at_] == '}') {
      ++at_;
      return true;
    }
    while (true) {
      Space();
      if (at_ >= s_.size() || s_[at_] != '"') return Fail("member name expected");
      auto& m = v.members.emplace_back();
      if (!String(m.name)) return false;
      Space();
      if (at_ >= s_.size() || s_[at_] != ':') return Fail("':' expected");
      ++at_;
      Space();
      if (!Value(m.value, depth)) return false;
      Space();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == '}') {
        ++at_;
        return true;
      }
      return Fail("',' or '}' expected");
    }
  }

  bool Array(JsonValue& v, std::size_t depth) {
    if (depth > kMaxJsonDepth) return Fail("nested too deeply");
    v.type = JsonValue::Type::Array;
    ++at_;
    Space();
    if (at_ < s_.size() && s_[at_] == ']') {
      ++at_;
      return true;
    }
    while (true) {
      Space();
      if (!Value(v.items.emplace_back(), depth)) return false;
      Space();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == ']') {
        ++at_;
        return true;
      }
      return Fail("',' or ']' expected");
    }
  }

  bool Digits() {
    const std::size_t start = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    return at_ > start;
  }

  bool Number(JsonValue& v) {
    const std::size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    if (at_ < s_.size() && s_[at_] == '0') {
      ++at_;
    } else if (!Digits()) {
      return Fail("value expected");
    }
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (!Digits()) return Fail("digits expected after '.'");
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (!Digits()) return Fail("digits expected in the exponent");
    }
    v.type = JsonValue::Type::Number;
    const std::string text(s_.substr(start, at_ - start));
    v.number = std::strtod(text.c_str(), nullptr);
    return true;
  }

  bool Hex4(std::uint32_t& u) {
    if (s_.size() - at_ < 4) return Fail("short \\u escape");
    u = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      u <<= 4;
      if (c >= '0' && c <= '9') u |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') u |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') u |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return Fail("bad \\u escape");
    }
    return true;
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    while (true) {
      if (at_ >= s_.size()) return Fail("unterminated string");
      const auto c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        const std::size_t n = Utf8SequenceLength(s_, at_);
        if (n == 0) return Fail("invalid UTF-8");
        out.append(s_.substr(at_, n));
        at_ += n;
        continue;
      }
      if (++at_ >= s_.size()) return Fail("unterminated escape");
      const char e = s_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t u = 0;
          if (!Hex4(u)) return false;
          if (u >= 0xDC00 && u <= 0xDFFF) return Fail("lone low surrogate");
          if (u >= 0xD800 && u <= 0xDBFF) {
            std::uint32_t low = 0;
            if (s_.substr(at_, 2) != "\\u") return Fail("lone high surrogate");
            at_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("lone high surrogate");
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, static_cast<char32_t>(u));
          break;
        }
        default: return Fail("unknown escape");
      }
    }
  }

  std::string_view s_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const JsonMember& m : members) {
    if (m.name == name) return &m.value;
  }
  return nullptr;
}

bool ParseJson(std::string_view text, JsonValue& out, std::string& error) {
  Reader r(text);
  out = JsonValue();
  if (r.Document(out)) return true;
  error = r.error();
  return false;
}

std::string JsonQuote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace qv::browser
