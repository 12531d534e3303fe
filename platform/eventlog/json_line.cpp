#include "platform/eventlog/json_line.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "common/utf.h"

namespace qv::platform {
namespace {

constexpr unsigned kEscapedByteBase = 0xDC00;

// Bytes that are not UTF-8 (a file name can hold any) go out as the escapes \udc80 to
// \udcff, so the line stays valid JSON and the reader gets the very bytes back.
void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t n = Utf8SequenceLength(s, i);
      if (n == 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", kEscapedByteBase + c);
        out += buf;
      } else {
        out.append(s.substr(i, n));
        i += n - 1;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string_view TypeName(EventType t) {
  switch (t) {
    case EventType::Error: return "error";
    case EventType::Warning: return "warning";
    case EventType::Information: return "information";
  }
  return "error";
}

// A small reader for exactly the lines FormatEventLine writes.
struct Reader {
  std::string_view s;
  std::size_t i = 0;
  void Ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  bool Eat(char c) {
    Ws();
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool String(std::string& out) {
    out.clear();
    if (!Eat('"')) return false;
    while (i < s.size()) {
      char c = s[i++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i >= s.size()) return false;
      c = s[i++];
      switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (i + 4 > s.size()) return false;
          unsigned v = 0;
          const auto [end, ec] = std::from_chars(s.data() + i, s.data() + i + 4, v, 16);
          if (ec != std::errc() || end != s.data() + i + 4) return false;
          i += 4;
          if (v < 0x80) {
            out += static_cast<char>(v);
          } else if (v >= kEscapedByteBase + 0x80 && v <= kEscapedByteBase + 0xFF) {
            out += static_cast<char>(v - kEscapedByteBase);  // a byte that was not UTF-8
          } else if (v < 0xD800 || v > 0xDFFF) {
            AppendUtf8(out, static_cast<char32_t>(v));
          } else {
            return false;  // we never write other surrogates
          }
          break;
        }
        default: out += c;
      }
    }
    return false;
  }
  bool Number(long long& v) {
    Ws();
    const std::size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (start == i) return false;
    v = std::atoll(std::string(s.substr(start, i - start)).c_str());
    return true;
  }
};

}  // namespace

std::string FormatEventLine(const EventRecord& rec) {
  std::string out = "{\"time\":";
  AppendJsonString(out, FormatIsoDate(FileTimeToDate(rec.time)));
  out += ",\"source\":";
  AppendJsonString(out, rec.source);
  out += ",\"type\":\"";
  out += TypeName(rec.type);
  out += "\",\"category\":" + std::to_string(rec.category);
  char id[16];
  std::snprintf(id, sizeof id, "0x%08X", rec.eventId);
  out += ",\"event\":\"";
  out += id;
  out += "\",\"strings\":[";
  for (std::size_t k = 0; k < rec.strings.size(); ++k) {
    if (k) out += ',';
    AppendJsonString(out, rec.strings[k]);
  }
  out += "]}\n";
  return out;
}

bool ParseEventLine(std::string_view line, EventRecord& out) {
  Reader r{line};
  if (!r.Eat('{')) return false;
  out = EventRecord{};
  bool first = true;
  while (!r.Eat('}')) {
    if (!first && !r.Eat(',')) return false;
    first = false;
    std::string key;
    if (!r.String(key) || !r.Eat(':')) return false;
    if (key == "time") {
      std::string t;
      if (!r.String(t)) return false;
      const auto d = ParseIsoDate(t);
      if (!d) return false;
      out.time = DateToFileTime(*d).value_or(0);
    } else if (key == "source") {
      if (!r.String(out.source)) return false;
    } else if (key == "type") {
      std::string t;
      if (!r.String(t)) return false;
      out.type = t == "warning" ? EventType::Warning
                 : t == "information" ? EventType::Information
                                      : EventType::Error;
    } else if (key == "category") {
      long long v;
      if (!r.Number(v)) return false;
      out.category = static_cast<std::uint16_t>(v);
    } else if (key == "event") {
      std::string t;
      if (!r.String(t)) return false;
      out.eventId = static_cast<std::uint32_t>(std::strtoul(t.c_str(), nullptr, 16));
    } else if (key == "strings") {
      if (!r.Eat('[')) return false;
      bool firstString = true;
      while (!r.Eat(']')) {
        if (!firstString && !r.Eat(',')) return false;
        firstString = false;
        std::string s;
        if (!r.String(s)) return false;
        out.strings.push_back(std::move(s));
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace qv::platform
