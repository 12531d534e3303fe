#pragma once
// The rank of a full-text match without SQLite's bm25(): an auxiliary function reports, for
// the row in hand, how often each phrase of the query occurs, and the score is worked out
// here with the row's length from the property cache. The score is the one bm25() gives
// (k1 = 1.2, b = 0.75, IDF floored at 1e-6, every column weighted 1); what it saves is the
// lookup of each row's length in the full-text index.
#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <vector>

#include "common/hresult.h"

namespace qv::platform::indexing {

// What the auxiliary function fills: the table's figures once per statement, the phrase
// counts for every row. Passed to it as a pointer parameter.
struct PhraseHits {
  bool ready = false;
  // Set by the caller when it counts the rows its statement lists. A query of one phrase
  // lists exactly the rows that hold the phrase, so its IDF can wait for that count
  // (FinishDeferredIdf) instead of costing a second pass over the phrase's rows.
  bool mayDeferIdf = false;
  bool idfDeferred = false;  // set on the first row: the IDF waits for FinishDeferredIdf
  std::int64_t tableRows = 0;
  double avgTokens = 0.0;
  std::vector<double> idf;
  std::vector<double> freq;
};

// The pointer type name under which a PhraseHits is bound.
inline constexpr const char* kPhraseHitsPointer = "qv_phrase_hits";

// Registers qv_phrase_hits(fts, ?) on a connection, once. Its value is the row's id.
HRESULT RegisterPhraseHits(sqlite3* db);

// The IDF of a deferred single-phrase query, from the rows its statement listed.
void FinishDeferredIdf(PhraseHits& hits, std::int64_t listed);

// The figures of a one-phrase query whose rows were listed elsewhere: `found` of the table's
// `rows` rows, of `tokens` tokens in all, hold the phrase. Its hits per row go in freq[0].
PhraseHits OnePhraseHits(std::int64_t rows, std::int64_t tokens, std::int64_t found);

// The BM25 score of a row of `tokens` tokens, from the counts of the last row reported.
double Bm25Score(const PhraseHits& hits, std::int64_t tokens);

// The scores of rows of a one-phrase query in a batch: row i holds the phrase freq[i] times
// in tokens[i] tokens. The same arithmetic as Bm25Score, in a loop the processor can run
// divisions of several rows at once.
void OnePhraseScores(const PhraseHits& hits, std::span<const std::uint32_t> freq,
                     std::span<const std::int64_t> tokens, std::span<double> scores);

// A row's length in tokens, every column together, from its fts_docsize blob (one SQLite
// varint per column). A damaged blob counts up to where it is cut short, and the sum stops
// at the largest count instead of wrapping.
std::int64_t DocsizeTokens(std::span<const std::uint8_t> blob);

// Rows' lengths read from the full-text index's table of them through one blob handle, moved
// from row to row: bm25() runs a statement per row for the same, and a search that lists
// thirty thousand rows spent most of its time there.
class DocsizeReader {
 public:
  explicit DocsizeReader(sqlite3* db) : db_(db) {}
  ~DocsizeReader() { sqlite3_blob_close(blob_); }
  DocsizeReader(const DocsizeReader&) = delete;
  DocsizeReader& operator=(const DocsizeReader&) = delete;
  // SQLite's result code; SQLITE_CORRUPT for a row the table lacks (a damaged index).
  int Tokens(std::int64_t rowid, std::int64_t& tokens);

 private:
  sqlite3* db_;
  sqlite3_blob* blob_ = nullptr;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace qv::platform::indexing
