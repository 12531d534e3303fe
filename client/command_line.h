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
// '&' or the end; the query is URL-unescaped only once it is cut out, so an escaped "%26"
// inside it can never start another key. An escaped NUL ends the query.
SeekParameters ParseSeekParameters(std::string_view params);

// What QvSeek does first, from its arguments (without the program's name):
// "/q" (any case) and a parameter string; anything else runs the empty search.
enum class StartupKind {
  EmptySearch,    // the user's visited items in activation order
  Search,         // the parameters' search
  OpenJournal,    // "&ct=Journal" without a query
  JournalSearch,  // "&ct=Journal" with a query
};
struct StartupCommand {
  StartupKind kind = StartupKind::EmptySearch;
  SeekParameters params;  // set for every kind but EmptySearch
};
StartupCommand ParseStartupCommand(std::span<const std::string_view> args);
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
  bool inProcess = false;  // --in-process: not through a running print server
  std::size_t maxRows = 0;  // 0: all
  int barWidth = 10;
};

// Parses what follows "--print"; false with `error` for anything it does not understand.
bool ParsePrintOptions(std::span<const std::string_view> args, PrintOptions& out,
                       std::string& error);

}  // namespace qv::client
