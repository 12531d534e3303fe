#include "platform/indexing/stem_tokenizer.h"

#include <libstemmer.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/utf.h"
#include "platform/indexing/sqlite_db.h"

namespace qv::platform::indexing {
namespace {

constexpr const char* kInnerDefault = "unicode61";
// Longer words are left as they are: no language has stems worth finding there.
constexpr int kMaxStemmedBytes = 64;

struct StemmerDeleter {
  void operator()(sb_stemmer* s) const { sb_stemmer_delete(s); }
};
using StemmerPtr = std::unique_ptr<sb_stemmer, StemmerDeleter>;

bool KnownLanguage(std::string_view name) {
  for (const char** p = sb_stemmer_list(); *p; ++p) {
    if (name == *p) return true;
  }
  return false;
}

// One instance per table and connection; FTS5 never calls one from two threads at once.
struct StemTokenizer {
  fts5_tokenizer inner{};
  Fts5Tokenizer* innerTok = nullptr;
  std::vector<StemmerPtr> stemmers;

  ~StemTokenizer() {
    if (innerTok && inner.xDelete) inner.xDelete(innerTok);
  }

  // The distinct stems of `word` that differ from it.
  void Stems(std::string_view word, std::vector<std::string>& out) {
    out.clear();
    if (word.empty() || word.size() > kMaxStemmedBytes) return;
    for (auto& s : stemmers) {
      const sb_symbol* stem = sb_stemmer_stem(
          s.get(), reinterpret_cast<const sb_symbol*>(word.data()), static_cast<int>(word.size()));
      if (!stem) continue;
      const std::string_view st(reinterpret_cast<const char*>(stem),
                                static_cast<std::size_t>(sb_stemmer_length(s.get())));
      if (st.empty() || st == word) continue;
      if (std::find(out.begin(), out.end(), st) == out.end()) out.emplace_back(st);
    }
  }
};

struct Token {
  std::string text;
  int flags, start, end;
};

struct TokenizeCall {
  StemTokenizer* self;
  void* ctx;
  int (*xToken)(void*, int, const char*, int, int, int);
  bool query;
  std::vector<Token> tokens;  // a query's words, held until all are known
  std::vector<std::string> stems;
  std::string marked;
};

int EmitStems(TokenizeCall& c, std::string_view word, int start, int end, bool alsoPlain) {
  c.self->Stems(word, c.stems);
  for (const auto& stem : c.stems) {
    c.marked.assign(1, kStemMark);
    c.marked += stem;
    int rc = c.xToken(c.ctx, FTS5_TOKEN_COLOCATED, c.marked.data(),
                      static_cast<int>(c.marked.size()), start, end);
    if (rc == SQLITE_OK && alsoPlain) {
      rc = c.xToken(c.ctx, FTS5_TOKEN_COLOCATED, stem.data(), static_cast<int>(stem.size()),
                    start, end);
    }
    if (rc != SQLITE_OK) return rc;
  }
  if (alsoPlain && c.stems.empty()) {
    // The word is its own stem: words that stem to it carry it marked.
    c.marked.assign(1, kStemMark);
    c.marked += word;
    return c.xToken(c.ctx, FTS5_TOKEN_COLOCATED, c.marked.data(),
                    static_cast<int>(c.marked.size()), start, end);
  }
  return SQLITE_OK;
}

int OnToken(void* p, int flags, const char* token, int n, int start, int end) {
  auto& c = *static_cast<TokenizeCall*>(p);
  if (n < 0) return SQLITE_ERROR;
  if (c.query) {
    if (c.tokens.size() > 1000) return SQLITE_TOOBIG;
    c.tokens.push_back({std::string(token, static_cast<std::size_t>(n)), flags, start, end});
    return SQLITE_OK;
  }
  int rc = c.xToken(c.ctx, flags, token, n, start, end);
  if (rc != SQLITE_OK || (flags & FTS5_TOKEN_COLOCATED)) return rc;
  return EmitStems(c, std::string_view(token, static_cast<std::size_t>(n)), start, end, false);
}

int Create(void* ctx, const char** args, int nArgs, Fts5Tokenizer** out) {
  *out = nullptr;
  auto* api = static_cast<fts5_api*>(ctx);
  auto tok = std::make_unique<StemTokenizer>();
  if (nArgs >= 1) {
    for (const auto& name : ParseStemmingLanguages(args[0])) {
      StemmerPtr s(sb_stemmer_new(name.c_str(), "UTF_8"));
      if (!s) return SQLITE_NOMEM;
      tok->stemmers.push_back(std::move(s));
    }
  }
  const char* innerName = nArgs >= 2 ? args[1] : kInnerDefault;
  if (std::strcmp(innerName, "qv_stem") == 0) return SQLITE_ERROR;
  void* innerCtx = nullptr;
  int rc = api->xFindTokenizer(api, innerName, &innerCtx, &tok->inner);
  if (rc != SQLITE_OK) return rc;
  rc = tok->inner.xCreate(innerCtx, nArgs >= 2 ? args + 2 : nullptr, nArgs >= 2 ? nArgs - 2 : 0,
                          &tok->innerTok);
  if (rc != SQLITE_OK) return rc;
  *out = reinterpret_cast<Fts5Tokenizer*>(tok.release());
  return SQLITE_OK;
}

void Delete(Fts5Tokenizer* t) { delete reinterpret_cast<StemTokenizer*>(t); }

int Tokenize(Fts5Tokenizer* t, void* ctx, int flags, const char* text, int nText,
             int (*xToken)(void*, int, const char*, int, int, int)) {
  auto* self = reinterpret_cast<StemTokenizer*>(t);
  TokenizeCall c{self, ctx, xToken, (flags & FTS5_TOKENIZE_QUERY) != 0, {}, {}, {}};
  int rc = self->inner.xTokenize(self->innerTok, &c, flags, text, nText, OnToken);
  if (rc != SQLITE_OK || !c.query) return rc;
  // A lone word reaches every form of its stem; a phrase or a prefix stays exact.
  const bool expand = c.tokens.size() == 1 && !(flags & FTS5_TOKENIZE_PREFIX);
  for (const auto& tok : c.tokens) {
    rc = xToken(ctx, tok.flags, tok.text.data(), static_cast<int>(tok.text.size()), tok.start,
                tok.end);
    if (rc == SQLITE_OK && expand) rc = EmitStems(c, tok.text, tok.start, tok.end, true);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

}  // namespace

std::vector<std::string> ParseStemmingLanguages(std::string_view text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find_first_of(", \t;", at), text.size());
    const std::string name = AsciiLower(text.substr(at, end - at));
    at = end + 1;
    if (name.empty() || !KnownLanguage(name)) continue;
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  }
  return out;
}

std::vector<std::string> StemmingLanguages(const Registry& registry) {
  RegValue v;
  if (registry.GetValue(Hive::LocalMachine, kEngineKey, kStemmingLanguagesValue, v) != 0) {
    return {std::string(kDefaultStemmingLanguage)};
  }
  if (v.type == RegType::Sz || v.type == RegType::ExpandSz) return ParseStemmingLanguages(v.text);
  if (v.type == RegType::MultiSz) {
    std::string joined;
    for (const auto& s : v.strings) joined += s + ",";
    return ParseStemmingLanguages(joined);
  }
  return {std::string(kDefaultStemmingLanguage)};
}

std::string FtsTokenizeOption(std::span<const std::string> languages) {
  std::string inner = "unicode61 remove_diacritics 2";
  if (languages.empty()) return inner;
  std::string list;
  for (const auto& l : languages) {
    // Snowball's names are plain words; anything else never reaches the schema.
    if (l.empty() || l.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != std::string::npos) {
      continue;
    }
    if (!list.empty()) list += ',';
    list += l;
  }
  if (list.empty()) return inner;
  return std::string(kStemTokenizerName) + " '" + list + "' " + inner;
}

HRESULT RegisterStemTokenizer(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_pointer(st, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
    rc = sqlite3_step(st);
    rc = rc == SQLITE_ROW ? SQLITE_OK : rc;
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_OK) return HresultFromSqlite(rc);
  if (!api || api->iVersion < 2) return E_NOTIMPL;
  // FTS5 keeps its own copy of the methods.
  fts5_tokenizer methods{Create, Delete, Tokenize};
  rc = api->xCreateTokenizer(api, std::string(kStemTokenizerName).c_str(), api, &methods,
                             nullptr);
  return rc == SQLITE_OK ? S_OK : HresultFromSqlite(rc);
}

}  // namespace qv::platform::indexing
