#include "platform/eventlog/json_line.h"

#include <cstdio>
#include <cstdlib>

namespace qv::platform {
namespace {

void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  for (unsigned char c : s) {
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
          const unsigned v = std::strtoul(std::string(s.substr(i, 4)).c_str(), nullptr, 16);
          i += 4;
          if (v >= 0x80) return false;  // we only ever escape control characters
          out += static_cast<char>(v);
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
