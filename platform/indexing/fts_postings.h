#pragma once
// A word's matching rows read straight from the full-text index's own pages. FTS5's cursor
// costs about 90 ns a row even for a bare list of row ids, and a search window that ranks
// every match of a common word (a third of the documents) spent most of its time there.
// This reads the same pages and gives each row holding the word with how often it occurs
// there, the figures qv_phrase_hits reports for a one-word query.
//
// The layout read (FTS5's, format version 4, in the table fts_data):
//   id 1   totals: varint rows, then a varint of tokens per column.
//   id 10  structure: a 4-byte cookie, varints levels, segments, write counter; per level
//          the segments an unfinished merge takes in, the count, then for each segment
//          (oldest first) its id, first and last leaf.
//   leaf   id = segment << 37 | page. Two big-endian u16 open it: where its first row id
//          is (0: none before its first term) and where its footer starts. The footer is
//          the offsets of the terms on the page, delta coded. The first term of a page is
//          written as length and bytes, the others as shared prefix, new length, bytes; the
//          main index puts '0' before every word. A term's doclist follows it: a row id
//          (literal when first in the doclist or first on its page, else the increase),
//          a varint of 2 * size + delete flag, then that many bytes of positions: per
//          column a list of (offset increase + 2), a column after the first starting with
//          0x01 and its number. A doclist and a position list run on into following leaves.
//   fts_idx(segid, term, pgno) the first term of each leaf that has one, pgno shifted
//          left once, to find where a term is.
// A newer segment's entry for a row replaces an older one's; one without positions removes it.
// Anything else (another format version, a column filter, a phrase of several words) is
// left to FTS5's cursor: the reader says it cannot answer.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "platform/indexing/sqlite_db.h"

namespace qv::platform::indexing {

struct WordPosting {
  std::int64_t rowid = 0;
  std::uint32_t hits = 0;  // occurrences in the row, every column together; 0: row removed
  std::uint32_t firstPosition = 0;  // where its positions start, when they are kept
};

// One segment's entries for a term, in row id order.
struct SegmentDoclist {
  std::vector<WordPosting> entries;
  // Column << 32 | offset of every hit, entry after entry, when asked for.
  std::vector<std::uint64_t> positions;
};

enum class DoclistResult { Found, Absent, Damaged };

// A segment's leaves by page number; a SQLite result code.
class LeafPages {
 public:
  virtual ~LeafPages() = default;
  virtual int Read(std::int64_t page, std::vector<std::uint8_t>& bytes) = 0;
};

// Reads the doclist of `term` (as stored, with its index prefix) from the segment's leaf
// `page` on, up to leaf `lastPage`. Damaged also for a page LeafPages could not read.
DoclistResult ReadDoclist(LeafPages& leaves, std::int64_t page, std::int64_t lastPage,
                          std::span<const std::uint8_t> term, bool wantPositions,
                          SegmentDoclist& out);

// Whether the term has a doclist starting on the segment's leaf `page`, read no further.
DoclistResult FindDoclist(LeafPages& leaves, std::int64_t page, std::int64_t lastPage,
                          std::span<const std::uint8_t> term);

// The index's shape as its structure record tells it: segments newest first.
struct FtsSegment {
  std::int64_t id = 0;
  std::int64_t firstPage = 0;
  std::int64_t lastPage = 0;
};
// False for a record of another form or a damaged one.
bool ParseStructure(std::span<const std::uint8_t> record, std::vector<FtsSegment>& newestFirst);

// The arguments of the tokenize option in the full-text table's CREATE statement, its
// tokenizer's name first; false when the statement has none in the form written here.
bool TokenizeArguments(std::string_view createSql, std::vector<std::string>& args);

class FtsWordReader {
 public:
  // `db` is a connection with the catalog's tokenizers registered.
  explicit FtsWordReader(sqlite3* db);
  ~FtsWordReader();
  FtsWordReader(const FtsWordReader&) = delete;
  FtsWordReader& operator=(const FtsWordReader&) = delete;

  // For MATCH text of one quoted word: S_OK with every row that holds it, in row id order
  // (kept here until the next call), and the table's row and token counts. S_FALSE when
  // this reader cannot answer (another query, another index form): FTS5's cursor must. A
  // failure when the index is damaged.
  HRESULT Read(std::string_view matchText, std::span<const WordPosting>& out,
               std::int64_t& tableRows, std::int64_t& tableTokens);

 private:
  class Leaves;
  HRESULT QueryTerms(std::string_view word, std::vector<std::string>& terms);
  HRESULT ReadRecord(std::int64_t id, std::vector<std::uint8_t>& bytes);
  HRESULT ReadTerm(const std::vector<FtsSegment>& segments, const std::string& term,
                   bool wantPositions, SegmentDoclist& merged);
  // Where the term's doclist starts in the segment (past lastPage: not there).
  HRESULT LeafOfTerm(const FtsSegment& segment, const std::string& term, std::int64_t& page);
  // Calls visit(leaves, page, lastPage) for each segment, newest first, whose leaf `page`
  // may start the term's doclist, until it returns Found; Damaged fails the walk.
  template <typename Visit>
  HRESULT EachTermLeaf(const std::vector<FtsSegment>& segments, const std::string& term,
                       Visit visit);
  // Whether some segment has a doclist for the term, found without reading it.
  HRESULT TermPresent(const std::vector<FtsSegment>& segments, const std::string& term,
                      bool& present);
  HRESULT Check();

  sqlite3* db_;
  Statement findLeaf_;
  Statement leaves_;
  bool checked_ = false;
  bool usable_ = false;
  std::vector<std::string> tokenizerArgs_;
  fts5_tokenizer tokenizer_{};
  Fts5Tokenizer* tokenizerInstance_ = nullptr;
  // Kept from query to query: a common word's lists are large, and fresh memory costs a
  // page fault a page.
  std::vector<std::uint8_t> bytes_;
  std::vector<FtsSegment> segments_;
  std::vector<bool> present_;  // per term of the word: whether the index has it
  std::vector<SegmentDoclist> lists_;
  SegmentDoclist one_, combined_;
  std::vector<WordPosting> forms_;
  std::vector<std::span<const std::uint64_t>> runs_;
  std::vector<std::uint64_t> scratch_;
};

}  // namespace qv::platform::indexing
