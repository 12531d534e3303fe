#include "client/command_line.h"

#include <charconv>

#include "common/utf.h"

namespace qv::client {
namespace {

std::optional<std::string_view> ValueOf(std::string_view params, std::string_view key) {
  const std::string lower = AsciiLower(params);
  const auto at = lower.find(key);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at + key.size();
  const auto end = params.find('&', start);
  return params.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

bool ContainsNoCase(std::string_view hay, std::string_view needle) {
  return AsciiLower(hay).find(AsciiLower(needle)) != std::string::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UrlUnescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

SeekParameters ParseSeekParameters(std::string_view params) {
  SeekParameters p;
  const auto ct = ValueOf(params, "&ct=");
  if (!ct) return p;
  p.usable = true;
  if (ContainsNoCase(*ct, "Journal")) p.journal = true;
  p.searchFiles = ContainsNoCase(*ct, "Files");
  p.searchWebHistory = ContainsNoCase(*ct, "WebHistory");
  p.searchEmail = ContainsNoCase(*ct, "Email");
  if (auto q = ValueOf(params, "&q=")) {
    p.query = UrlUnescape(*q);
    // "%00" ends the text, as it would in the C string that the parameters once were.
    if (const auto nul = p.query.find('\0'); nul != std::string::npos) p.query.resize(nul);
  }
  if (auto dd = ValueOf(params, "&dd=")) p.searchKeyMode = dd->find('1') != std::string_view::npos;
  if (auto v = ValueOf(params, "&exn=")) p.visitedOnly = v->find('1') != std::string_view::npos;
  if (auto v = ValueOf(params, "&sys=")) {
    p.includeSystemFolders = v->find('1') != std::string_view::npos;
  }
  return p;
}

StartupCommand ParseStartupCommand(std::span<const std::string_view> args) {
  StartupCommand c;
  if (args.size() < 2 || !EqualsNoCase(args[0], "/q")) return c;
  SeekParameters p = ParseSeekParameters(args[1]);
  if (!p.usable) return c;
  if (p.journal) {
    c.kind = p.query.empty() ? StartupKind::OpenJournal : StartupKind::JournalSearch;
  } else {
    c.kind = StartupKind::Search;
  }
  c.params = std::move(p);
  return c;
}

bool ParsePrintOptions(std::span<const std::string_view> args, PrintOptions& out,
                       std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    auto next = [&](std::string_view& v) {
      if (i + 1 >= args.size()) {
        error = std::string(a) + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    std::string_view v;
    if (a == "--catalogs") {
      if (!next(v)) return false;
      out.files = out.web = out.email = false;
      std::size_t at = 0;
      while (at <= v.size()) {
        const auto comma = v.find(',', at);
        const auto name = AsciiLower(v.substr(at, comma == std::string_view::npos ? v.npos
                                                                                   : comma - at));
        if (name == "files") {
          out.files = true;
        } else if (name == "web" || name == "webhistory") {
          out.web = true;
        } else if (name == "email" || name == "mail") {
          out.email = true;
        } else {
          error = "unknown catalog '" + name + "' (use files, web, email)";
          return false;
        }
        if (comma == std::string_view::npos) break;
        at = comma + 1;
      }
    } else if (a == "--sort") {
      if (!next(v)) return false;
      const auto s = AsciiLower(v);
      if (s == "activation") {
        out.sortOrder = kSortActivation;
      } else if (s == "date") {
        out.sortOrder = kSortDate;
      } else if (s == "working" || s == "workingtime") {
        out.sortOrder = kSortWorkingTime;
      } else if (s == "visits") {
        out.sortOrder = kSortVisits;
      } else {
        error = "unknown sort '" + std::string(v) + "' (use activation, date, working, visits)";
        return false;
      }
    } else if (a == "--ascending") {
      out.ascending = true;
    } else if (a == "--descending") {
      out.ascending = false;
    } else if (a == "--visited-only") {
      out.visitedOnly = true;
    } else if (a == "--system-folders") {
      out.includeSystemFolders = true;
    } else if (a == "--sql") {
      out.showSql = true;
    } else if (a == "--in-process") {
      out.inProcess = true;
    } else if (a == "--keys") {
      if (!next(v)) return false;
      out.keysFile = std::string(v);
    } else if (a == "--max" || a == "--bar-width") {
      if (!next(v)) return false;
      std::size_t n = 0;
      const auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec != std::errc() || p != v.data() + v.size() || (a == "--bar-width" && (n < 1 || n > 100))) {
        error = std::string(a) + " takes a whole number";
        return false;
      }
      if (a == "--max") {
        out.maxRows = n;
      } else {
        out.barWidth = static_cast<int>(n);
      }
    } else if (EqualsNoCase(a, "/q")) {
      if (!next(v)) return false;
      out.seek = ParseSeekParameters(v);
    } else if (a.size() > 1 && a.substr(0, 2) == "--") {
      error = "unknown option " + std::string(a);
      return false;
    } else if (!out.haveQuery) {
      out.query = std::string(a);
      out.haveQuery = true;
    } else {
      error = "give the query as one argument (quote it)";
      return false;
    }
  }
  return true;
}

}  // namespace qv::client
