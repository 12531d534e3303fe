#pragma once
// QvSeek's command line: the "/q" parameters through which the shell opens the client on a
// query, and the options of the terminal mode (--print).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "client/search_params.h"

namespace qv::client {

// What "/q" parameters ask for. `usable` is false without "&ct=", and the command line is
// then ignored (the empty search runs).
struct SeekParameters {
  bool usable = false;
  bool journal = false;
  std::string query;
  bool searchKeyMode = false;
  bool searchFiles = false, searchWebHistory = false, searchEmail = false;
  bool visitedOnly = false, includeSystemFolders = false;
};

// Each value runs from after its key ("&q=", "&dd=", "&ct=", "&exn=", "&sys=") to the next
// '&' or the end; the query is URL-unescaped.
SeekParameters ParseSeekParameters(std::string_view params);
// %XX escapes decoded, '+' left as it is; a broken escape stays as typed.
std::string UrlUnescape(std::string_view s);

struct PrintOptions {
  std::string query;
  bool haveQuery = false;
  std::optional<SeekParameters> seek;  // "/q PARAMS" given instead of a query
  std::optional<bool> files, web, email;   // --catalogs
  std::optional<std::uint32_t> sortOrder;  // --sort
  std::optional<bool> ascending;           // --ascending / --descending
  bool visitedOnly = false;
  bool includeSystemFolders = false;
  std::string keysFile;  // --keys FILE: a search-key list
  bool showSql = false;
  std::size_t maxRows = 0;  // 0: all
  int barWidth = 10;
};

// Parses what follows "--print"; false with `error` for anything it does not understand.
bool ParsePrintOptions(std::span<const std::string_view> args, PrintOptions& out,
                       std::string& error);

}  // namespace qv::client
