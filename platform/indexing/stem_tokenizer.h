#pragma once
// Stemming for the full-text index: an FTS5 tokenizer "qv_stem" that wraps unicode61 and
// puts, beside every word whose Snowball stem differs from it, the stem marked with a
// leading \x01 as a colocated token. In a query, a lone word matches itself, the marked stem
// and the stem as a word, so "reports" finds "report", "reporting" and "reports"; a quoted
// phrase of several words, and a prefix term, match the exact words only, so the phrase
// "annual reports" does not find "annual report". Stems take no token position, so the
// lengths that ranking reads are those of unicode61.
//
// The tokenizer is chosen when a catalog's full-text table is created. Catalogs made before
// keep plain unicode61 and work as they did, without stemming, until they are made anew.
#include <sqlite3.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "platform/registry/registry.h"

namespace qv::platform::indexing {

// HKEY_LOCAL_MACHINE: the catalog engine's key and the languages its new catalogs stem
// (REG_SZ with commas or blanks between names, or REG_MULTI_SZ; Snowball's names: "english",
// "german", ...). Missing: English. Empty or "none": no stemming.
inline constexpr std::string_view kEngineKey = "SYSTEM\\CurrentControlSet\\Control\\ContentIndex";
inline constexpr std::string_view kStemmingLanguagesValue = "StemmingLanguages";
inline constexpr std::string_view kDefaultStemmingLanguage = "english";
inline constexpr std::string_view kStemTokenizerName = "qv_stem";
// The mark before a stem in the index; unicode61 never yields it inside a word.
inline constexpr char kStemMark = '\x01';

// Registers qv_stem on a connection. Needed on every connection that reads or writes a
// table made with it.
HRESULT RegisterStemTokenizer(sqlite3* db);

// The registry's list, cut to the languages Snowball has, each once, in lower case.
std::vector<std::string> StemmingLanguages(const Registry& registry);
// Splits a list as the registry value holds it and keeps the names Snowball knows.
std::vector<std::string> ParseStemmingLanguages(std::string_view text);

// The tokenize option of a new full-text table for these languages (unicode61 alone when
// there are none).
std::string FtsTokenizeOption(std::span<const std::string> languages);

}  // namespace qv::platform::indexing
