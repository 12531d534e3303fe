#include "platform/indexing/fts_rank.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/indexing/sqlite_db.h"
#include "platform/indexing/sqlite_varint.h"

namespace qv::platform::indexing {
namespace {

// SQLite's IDF: log((N - n + 0.5) / (n + 0.5)), floored just above 0.
double Idf(sqlite3_int64 rows, sqlite3_int64 found) {
  const double idf = std::log((rows - found + 0.5) / (found + 0.5));
  return idf <= 0.0 ? 1e-6 : idf;
}

// One phrase's part of the score, written as SQLite writes it, so the two give the same
// double.
inline double Bm25Term(double idf, double freq, double tokens, double avgTokens) {
  const double k1 = 1.2;
  const double b = 0.75;
  return idf * ((freq * (k1 + 1.0)) / (freq + k1 * (1 - b + b * tokens / avgTokens)));
}

int CountRow(const Fts5ExtensionApi*, Fts5Context*, void* count) {
  ++*static_cast<sqlite3_int64*>(count);
  return SQLITE_OK;
}

void PhraseHitsFunction(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* ctx,
                        int nVal, sqlite3_value** vals) {
  auto* hits = nVal >= 1 ? static_cast<PhraseHits*>(
                               sqlite3_value_pointer(vals[0], kPhraseHitsPointer))
                         : nullptr;
  if (!hits) {
    sqlite3_result_error(ctx, "qv_phrase_hits needs its state", -1);
    return;
  }
  const int phrases = api->xPhraseCount(fts);
  int rc = SQLITE_OK;
  if (!hits->ready) {
    sqlite3_int64 rows = 0, tokens = 0;
    rc = api->xRowCount(fts, &rows);
    if (rc == SQLITE_OK) rc = api->xColumnTotalSize(fts, -1, &tokens);
    if (rows <= 0) rows = 1;
    hits->avgTokens = static_cast<double>(tokens) / static_cast<double>(rows);
    hits->tableRows = rows;
    hits->idf.assign(phrases, 0.0);
    hits->idfDeferred = hits->mayDeferIdf && phrases == 1;
    for (int i = 0; rc == SQLITE_OK && !hits->idfDeferred && i < phrases; ++i) {
      sqlite3_int64 found = 0;
      rc = api->xQueryPhrase(fts, i, &found, CountRow);
      hits->idf[i] = Idf(rows, found);
    }
    if (rc != SQLITE_OK) {
      sqlite3_result_error_code(ctx, rc);
      return;
    }
    hits->ready = true;
  }
  // Each phrase's hits counted along its own position list: cheaper than the merged list
  // of every instance that xInst would build.
  hits->freq.assign(phrases, 0.0);
  for (int i = 0; i < phrases; ++i) {
    Fts5PhraseIter iter;
    int column = 0, offset = 0;
    rc = api->xPhraseFirst(fts, i, &iter, &column, &offset);
    if (rc != SQLITE_OK) break;
    double n = 0.0;
    for (; column >= 0; api->xPhraseNext(fts, &iter, &column, &offset)) n += 1.0;
    hits->freq[i] = n;
  }
  if (rc != SQLITE_OK) {
    sqlite3_result_error_code(ctx, rc);
    return;
  }
  sqlite3_result_int64(ctx, api->xRowid(fts));
}

}  // namespace

HRESULT RegisterPhraseHits(sqlite3* db) {
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
  rc = api->xCreateFunction(api, "qv_phrase_hits", nullptr, PhraseHitsFunction, nullptr);
  return rc == SQLITE_OK ? S_OK : HresultFromSqlite(rc);
}

void FinishDeferredIdf(PhraseHits& hits, std::int64_t listed) {
  if (!hits.idfDeferred) return;
  for (double& idf : hits.idf) idf = Idf(hits.tableRows, listed);
  hits.idfDeferred = false;
}

PhraseHits OnePhraseHits(std::int64_t rows, std::int64_t tokens, std::int64_t found) {
  // As the auxiliary function takes them from FTS5's own totals.
  if (rows <= 0) rows = 1;
  PhraseHits hits;
  hits.ready = true;
  hits.tableRows = rows;
  hits.avgTokens = static_cast<double>(tokens) / static_cast<double>(rows);
  hits.idf.assign(1, Idf(rows, found));
  hits.freq.assign(1, 0.0);
  return hits;
}

double Bm25Score(const PhraseHits& hits, std::int64_t tokens) {
  const double D = static_cast<double>(tokens);
  double score = 0.0;
  for (std::size_t i = 0; i < hits.idf.size() && i < hits.freq.size(); ++i) {
    score += Bm25Term(hits.idf[i], hits.freq[i], D, hits.avgTokens);
  }
  return score;
}

void OnePhraseScores(const PhraseHits& hits, std::span<const std::uint32_t> freq,
                     std::span<const std::int64_t> tokens, std::span<double> scores) {
  const double idf = hits.idf.empty() ? 0.0 : hits.idf[0];
  const std::size_t n = std::min({freq.size(), tokens.size(), scores.size()});
  for (std::size_t i = 0; i < n; ++i) {
    scores[i] = Bm25Term(idf, freq[i], static_cast<double>(tokens[i]), hits.avgTokens);
  }
}

std::int64_t DocsizeTokens(std::span<const std::uint8_t> blob) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t total = 0;
  while (!blob.empty()) {
    std::uint64_t v = 0;
    const std::size_t used = GetSqliteVarint(blob, v);
    if (!used) break;
    total = v > kMax - total ? kMax : total + v;
    blob = blob.subspan(used);
  }
  return static_cast<std::int64_t>(total);
}

int DocsizeReader::Tokens(std::int64_t rowid, std::int64_t& tokens) {
  tokens = 0;
  int rc = blob_ ? sqlite3_blob_reopen(blob_, rowid)
                 : sqlite3_blob_open(db_, "main", "fts_docsize", "sz", rowid, 0, &blob_);
  if (rc != SQLITE_OK) {
    // A handle that failed to move is spent.
    sqlite3_blob_close(blob_);
    blob_ = nullptr;
    return rc == SQLITE_ERROR ? SQLITE_CORRUPT : rc;
  }
  bytes_.resize(static_cast<std::size_t>(sqlite3_blob_bytes(blob_)));
  rc = sqlite3_blob_read(blob_, bytes_.data(), static_cast<int>(bytes_.size()), 0);
  if (rc != SQLITE_OK) return rc;
  tokens = DocsizeTokens(bytes_);
  return SQLITE_OK;
}

}  // namespace qv::platform::indexing
