#include "platform/indexing/fts_postings.h"

#include <algorithm>

#include "platform/indexing/sqlite_varint.h"

namespace qv::platform::indexing {
namespace {

constexpr std::int64_t kAveragesId = 1;
constexpr std::int64_t kStructureId = 10;
constexpr int kSegmentShift = 37;  // page bits, tree height bits, doclist-index bit
constexpr std::int64_t kMaxSegmentId = 65535;
constexpr std::int64_t kMaxPage = (std::int64_t{1} << 31) - 1;
constexpr std::int64_t kMaxLevels = 64;
constexpr std::int64_t kMaxSegments = 2000;
constexpr std::int64_t kFormatVersion = 4;
constexpr char kMainIndexPrefix = '0';
constexpr std::uint8_t kColumnMark = 0x01;
constexpr std::size_t kLeafHeader = 4;

std::uint16_t U16(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

// The hits of a position list, fed in pieces as it spills over leaves; the pieces may part
// anywhere, even inside a varint.
class PositionCounter {
 public:
  PositionCounter(bool wantPositions, std::vector<std::uint64_t>& positions)
      : want_(wantPositions), positions_(positions) {}

  void Start() {
    hits_ = 0;
    column_ = 0;
    offset_ = 0;
    firstInColumn_ = true;
    expectColumn_ = false;
    value_ = 0;
    bytes_ = 0;
    bad_ = false;
  }
  void Feed(std::span<const std::uint8_t> p) {
    if (!want_) return Count(p);
    Decode(p);
  }
  // Every value read: a position, a column mark or number, or damage.
  void Decode(std::span<const std::uint8_t> p) {
    for (const std::uint8_t b : p) {
      if (bytes_ == 8) {
        value_ = (value_ << 8) | b;
        Done();
        continue;
      }
      value_ = (value_ << 7) | (b & 0x7F);
      ++bytes_;
      if (!(b & 0x80)) Done();
    }
  }
  // The hits alone: the varints that end here, less each column's mark and number. A
  // position takes at most four bytes, so the nine-byte form never comes into it.
  void Count(std::span<const std::uint8_t> p) {
    // Most lists are of one column, with neither a column mark nor a zero byte in them:
    // then every varint that ends is a hit, counted in one pass the compiler can widen.
    if (!expectColumn_ && !p.empty() && p.back() < 0x80) {
      std::size_t ends = 0;
      bool marks = false;
      for (const std::uint8_t b : p) {
        ends += b < 0x80;
        marks |= b <= kColumnMark;
      }
      if (!marks) {
        hits_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            std::uint64_t{hits_} + ends, UINT32_MAX));
        bytes_ = 0;
        value_ = 0;
        return;
      }
    }
    // Otherwise each value is read, as for the positions, and none is kept.
    Decode(p);
  }
  // False for a list cut inside a varint or holding a value no list has.
  bool Finish() const { return !bad_ && bytes_ == 0 && !expectColumn_; }
  std::uint32_t hits() const { return hits_; }

 private:
  void Done() {
    const std::uint64_t v = value_;
    value_ = 0;
    bytes_ = 0;
    if (expectColumn_) {
      expectColumn_ = false;
      if (v > UINT32_MAX) bad_ = true;
      column_ = v;
      firstInColumn_ = true;
      offset_ = 0;
    } else if (v == kColumnMark) {
      expectColumn_ = true;
    } else if (v < 2) {
      bad_ = true;
    } else {
      offset_ = firstInColumn_ ? v - 2 : offset_ + (v - 2);
      firstInColumn_ = false;
      if (hits_ < UINT32_MAX) ++hits_;
      if (want_) positions_.push_back(column_ << 32 | (offset_ & 0xFFFFFFFF));
    }
  }

  bool want_;
  std::vector<std::uint64_t>& positions_;
  std::uint32_t hits_ = 0;
  std::uint64_t column_ = 0;
  std::uint64_t offset_ = 0;
  bool firstInColumn_ = true;
  bool expectColumn_ = false;
  std::uint64_t value_ = 0;
  int bytes_ = 0;
  bool bad_ = false;
};

// A leaf being read: its bytes, where its doclist part ends, and whether a term ends it.
struct Leaf {
  std::vector<std::uint8_t> bytes;
  std::int64_t page = 0;
  std::size_t size = 0;       // without the footer
  std::size_t firstRowid = 0;  // 0: none before the first term
  std::size_t end = 0;         // where doclist bytes on this page stop
  bool termEnds = false;       // a term starts at `end`

  // Reads the footer's first term offset; false when the header is damaged.
  bool Open() {
    if (bytes.size() < kLeafHeader) return false;
    firstRowid = U16(bytes, 0);
    size = U16(bytes, 2);
    if (size < kLeafHeader || size > bytes.size()) return false;
    if (firstRowid != 0 && (firstRowid < kLeafHeader || firstRowid >= size)) return false;
    end = size;
    termEnds = false;
    if (size < bytes.size()) {
      std::uint64_t first = 0;
      const std::span<const std::uint8_t> footer(bytes.data() + size, bytes.size() - size);
      if (!GetSqliteVarint(footer, first) || first < kLeafHeader || first > size) return false;
      end = static_cast<std::size_t>(first);
      termEnds = true;
      if (firstRowid != 0 && firstRowid >= end) return false;
    }
    return true;
  }
};

inline bool Varint(const Leaf& leaf, std::size_t& at, std::size_t end, std::uint64_t& v) {
  if (at >= end) return false;
  // Most are one byte: row id increases and list sizes.
  if (const std::uint8_t first = leaf.bytes[at]; first < 0x80) {
    v = first;
    ++at;
    return true;
  }
  const std::size_t n = GetSqliteVarint({leaf.bytes.data() + at, end - at}, v);
  if (!n) return false;
  at += n;
  return true;
}

// Finds `term` among the terms of the leaf; `at` is then just after it and leaf.end/termEnds
// say where its doclist stops on this page.
DoclistResult FindTerm(Leaf& leaf, std::span<const std::uint8_t> term, std::size_t& at) {
  const std::span<const std::uint8_t> footer(leaf.bytes.data() + leaf.size,
                                             leaf.bytes.size() - leaf.size);
  std::vector<std::uint8_t> current;
  std::size_t f = 0;
  std::size_t offset = 0;
  bool first = true;
  while (f < footer.size()) {
    std::uint64_t delta = 0;
    const std::size_t used = GetSqliteVarint(footer.subspan(f), delta);
    if (!used || delta > leaf.size) return DoclistResult::Damaged;
    f += used;
    offset = first ? static_cast<std::size_t>(delta) : offset + static_cast<std::size_t>(delta);
    if (offset < kLeafHeader || offset >= leaf.size || (!first && delta == 0)) {
      return DoclistResult::Damaged;
    }
    std::size_t p = offset;
    std::uint64_t prefix = 0, fresh = 0;
    if (!first && !Varint(leaf, p, leaf.size, prefix)) return DoclistResult::Damaged;
    if (!Varint(leaf, p, leaf.size, fresh)) return DoclistResult::Damaged;
    if (prefix > current.size() || fresh > leaf.size - p) return DoclistResult::Damaged;
    current.resize(static_cast<std::size_t>(prefix));
    current.insert(current.end(), leaf.bytes.begin() + static_cast<std::ptrdiff_t>(p),
                   leaf.bytes.begin() + static_cast<std::ptrdiff_t>(p + fresh));
    p += static_cast<std::size_t>(fresh);
    first = false;
    const auto order = std::lexicographical_compare_three_way(current.begin(), current.end(),
                                                              term.begin(), term.end());
    if (order > 0) return DoclistResult::Absent;
    if (order < 0) continue;
    // The doclist runs to the next term here, or on into the next leaves.
    at = p;
    if (f < footer.size()) {
      std::uint64_t next = 0;
      if (!GetSqliteVarint(footer.subspan(f), next) || next == 0 || next > leaf.size - offset) {
        return DoclistResult::Damaged;
      }
      leaf.end = offset + static_cast<std::size_t>(next);
      leaf.termEnds = true;
    } else {
      leaf.end = leaf.size;
      leaf.termEnds = false;
    }
    if (at > leaf.end) return DoclistResult::Damaged;
    return DoclistResult::Found;
  }
  return DoclistResult::Absent;
}

// Reads leaf `page` into `leaf` and finds `term` there; `at` is then where its doclist starts.
DoclistResult OpenDoclist(LeafPages& leaves, std::int64_t page, std::int64_t lastPage,
                          std::span<const std::uint8_t> term, Leaf& leaf, std::size_t& at) {
  if (page < 1 || page > lastPage || lastPage > kMaxPage) return DoclistResult::Damaged;
  leaf.page = page;
  if (leaves.Read(page, leaf.bytes) != SQLITE_OK || !leaf.Open()) return DoclistResult::Damaged;
  return FindTerm(leaf, term, at);
}

}  // namespace

DoclistResult FindDoclist(LeafPages& leaves, std::int64_t page, std::int64_t lastPage,
                          std::span<const std::uint8_t> term) {
  Leaf leaf;
  std::size_t at = 0;
  return OpenDoclist(leaves, page, lastPage, term, leaf, at);
}

DoclistResult ReadDoclist(LeafPages& leaves, std::int64_t page, std::int64_t lastPage,
                          std::span<const std::uint8_t> term, bool wantPositions,
                          SegmentDoclist& out) {
  out.entries.clear();
  out.positions.clear();
  Leaf leaf;
  std::size_t at = 0;
  const DoclistResult found = OpenDoclist(leaves, page, lastPage, term, leaf, at);
  if (found != DoclistResult::Found) return found;
  // The rows of a term on this page then the next: false at the end of the doclist.
  auto nextLeaf = [&]() -> DoclistResult {
    if (leaf.termEnds || leaf.page >= lastPage) return DoclistResult::Absent;
    ++leaf.page;
    if (leaves.Read(leaf.page, leaf.bytes) != SQLITE_OK || !leaf.Open()) {
      return DoclistResult::Damaged;
    }
    return DoclistResult::Found;
  };
  PositionCounter counter(wantPositions, out.positions);
  std::int64_t rowid = 0;
  bool firstInDoclist = true;
  for (;;) {
    bool literal = firstInDoclist;
    if (at >= leaf.end) {
      const DoclistResult moved = nextLeaf();
      if (moved == DoclistResult::Damaged) return moved;
      if (moved == DoclistResult::Absent) break;
      // A page met between two rows starts with its first row, or with the next term.
      if (leaf.firstRowid == 0) {
        if (leaf.termEnds && leaf.end == kLeafHeader) break;
        return DoclistResult::Damaged;
      }
      if (leaf.firstRowid != kLeafHeader) return DoclistResult::Damaged;
      at = leaf.firstRowid;
      literal = true;
    } else if (at == leaf.firstRowid && leaf.page != page) {
      literal = true;
    }
    std::uint64_t v = 0, size = 0;
    if (!Varint(leaf, at, leaf.end, v)) return DoclistResult::Damaged;
    // Row ids may be negative; an increase is added as FTS5 adds it, modulo 2^64, and the
    // ids must still rise.
    const auto next = literal ? static_cast<std::int64_t>(v)
                              : static_cast<std::int64_t>(static_cast<std::uint64_t>(rowid) + v);
    if (!firstInDoclist && next <= rowid) return DoclistResult::Damaged;
    rowid = next;
    firstInDoclist = false;
    if (!Varint(leaf, at, leaf.end, size)) return DoclistResult::Damaged;
    // The flag marks an entry that also deletes older ones; one with no positions is a
    // deletion only (0 hits), and a row with positions is there whatever the flag says.
    WordPosting entry;
    entry.rowid = rowid;
    entry.firstPosition = static_cast<std::uint32_t>(out.positions.size());
    std::uint64_t left = size >> 1;
    counter.Start();
    for (;;) {
      const std::size_t here = static_cast<std::size_t>(
          std::min<std::uint64_t>(left, leaf.end - at));
      counter.Feed({leaf.bytes.data() + at, here});
      at += here;
      left -= here;
      if (!left) break;
      // The list goes on at the top of the next leaf, up to its first row or term.
      if (leaf.termEnds) return DoclistResult::Damaged;
      const DoclistResult moved = nextLeaf();
      if (moved != DoclistResult::Found) return DoclistResult::Damaged;
      at = kLeafHeader;
      const std::size_t stop = leaf.firstRowid ? leaf.firstRowid : leaf.end;
      if (left > stop - at && leaf.firstRowid) return DoclistResult::Damaged;
    }
    if (!counter.Finish()) return DoclistResult::Damaged;
    entry.hits = counter.hits();
    if (out.positions.size() > UINT32_MAX) return DoclistResult::Damaged;
    out.entries.push_back(entry);
  }
  return DoclistResult::Found;
}

bool ParseStructure(std::span<const std::uint8_t> record, std::vector<FtsSegment>& newestFirst) {
  newestFirst.clear();
  // A later form marks itself with 0xFFFFFFFF-like bytes after the cookie; only the plain
  // form is read.
  if (record.size() < 4) return false;
  std::size_t at = 4;
  auto next = [&](std::uint64_t& v) {
    const std::size_t n = GetSqliteVarint(record.subspan(at), v);
    at += n;
    return n != 0;
  };
  if (record.size() > 4 && record[4] == 0xFF) return false;
  std::uint64_t levels = 0, segments = 0, writes = 0;
  if (!next(levels) || !next(segments) || !next(writes)) return false;
  if (levels > kMaxLevels || segments > kMaxSegments) return false;
  std::vector<std::vector<FtsSegment>> byLevel(static_cast<std::size_t>(levels));
  std::uint64_t seen = 0;
  for (auto& level : byLevel) {
    std::uint64_t merging = 0, count = 0;
    if (!next(merging) || !next(count)) return false;
    if (count > kMaxSegments || seen + count > segments || merging > count) return false;
    seen += count;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t id = 0, first = 0, last = 0;
      if (!next(id) || !next(first) || !next(last)) return false;
      // An empty segment (a merge's output before its first leaf) has pages 0 to 0.
      if (id == 0 || id > kMaxSegmentId || last > kMaxPage || (first == 0 && last != 0)) {
        return false;
      }
      level.push_back({static_cast<std::int64_t>(id), static_cast<std::int64_t>(first),
                       static_cast<std::int64_t>(last)});
    }
  }
  if (seen != segments) return false;
  // Lower levels are newer, and within a level the later segments.
  for (const auto& level : byLevel) {
    for (auto s = level.rbegin(); s != level.rend(); ++s) {
      if (s->lastPage != 0 && s->firstPage <= s->lastPage) newestFirst.push_back(*s);
    }
  }
  return true;
}

bool TokenizeArguments(std::string_view sql, std::vector<std::string>& args) {
  args.clear();
  const auto key = sql.find("tokenize = \"");
  if (key == std::string_view::npos) return false;
  const auto open = key + std::string_view("tokenize = \"").size();
  const auto close = sql.find('"', open);
  if (close == std::string_view::npos) return false;
  const std::string_view option = sql.substr(open, close - open);
  std::size_t i = 0;
  while (i < option.size()) {
    if (option[i] == ' ') {
      ++i;
      continue;
    }
    std::string arg;
    if (option[i] == '\'') {
      for (++i;; ++i) {
        if (i >= option.size()) return false;
        if (option[i] == '\'') {
          if (i + 1 < option.size() && option[i + 1] == '\'') {
            arg += '\'';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        arg += option[i];
      }
    } else {
      while (i < option.size() && option[i] != ' ' && option[i] != '\'') arg += option[i++];
    }
    args.push_back(std::move(arg));
  }
  return !args.empty();
}

// A segment's leaves read in page order by one statement moving along the table, which
// costs less than seeking each leaf anew.
class FtsWordReader::Leaves : public LeafPages {
 public:
  Leaves(FtsWordReader& reader, const FtsSegment& segment)
      : reader_(reader), base_(segment.id << kSegmentShift), last_(base_ + segment.lastPage) {}
  int Read(std::int64_t page, std::vector<std::uint8_t>& bytes) override {
    Statement& st = reader_.leaves_;
    const std::int64_t id = base_ + page;
    if (id != next_) {
      st.Reset();
      st.Bind(1, id);
      st.Bind(2, last_);
    }
    const int rc = st.Step();
    next_ = -1;
    if (rc != SQLITE_ROW) {
      st.Reset();
      return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;  // a leaf the segment lacks
    }
    if (st.Int(0) != id) return SQLITE_CORRUPT;
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.get(), 1));
    bytes.assign(data, data + sqlite3_column_bytes(st.get(), 1));
    next_ = id + 1;
    return SQLITE_OK;
  }

 private:
  FtsWordReader& reader_;
  std::int64_t base_;
  std::int64_t last_;
  std::int64_t next_ = -1;
};

FtsWordReader::FtsWordReader(sqlite3* db) : db_(db) {}

FtsWordReader::~FtsWordReader() {
  if (tokenizerInstance_) tokenizer_.xDelete(tokenizerInstance_);
}

HRESULT FtsWordReader::ReadRecord(std::int64_t id, std::vector<std::uint8_t>& bytes) {
  leaves_.Reset();
  leaves_.Bind(1, id);
  leaves_.Bind(2, id);
  const int rc = leaves_.Step();
  if (rc != SQLITE_ROW) {
    leaves_.Reset();
    return HresultFromSqlite(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);  // a record it lacks
  }
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(leaves_.get(), 1));
  bytes.assign(data, data + sqlite3_column_bytes(leaves_.get(), 1));
  leaves_.Reset();
  return S_OK;
}

HRESULT FtsWordReader::QueryTerms(std::string_view word, std::vector<std::string>& terms) {
  terms.clear();
  struct Collect {
    std::vector<std::string>* terms;
    int words = 0;
  } collect{&terms};
  const int rc = tokenizer_.xTokenize(
      tokenizerInstance_, &collect, FTS5_TOKENIZE_QUERY, word.data(),
      static_cast<int>(word.size()), [](void* p, int flags, const char* token, int n, int, int) {
        auto* c = static_cast<Collect*>(p);
        if (!(flags & FTS5_TOKEN_COLOCATED)) ++c->words;
        // FTS5 cuts a query token at this length.
        const int kept = std::clamp(n, 0, 32768);
        std::string term(1, kMainIndexPrefix);
        term.append(token, static_cast<std::size_t>(kept));
        c->terms->push_back(std::move(term));
        return SQLITE_OK;
      });
  if (rc != SQLITE_OK || collect.words != 1) return S_FALSE;
  std::sort(terms.begin(), terms.end());
  terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
  return S_OK;
}

HRESULT FtsWordReader::LeafOfTerm(const FtsSegment& segment, const std::string& term,
                                  std::int64_t& page) {
  findLeaf_.Bind(1, segment.id);
  sqlite3_bind_blob(findLeaf_.get(), 2, term.data(), static_cast<int>(term.size()),
                    SQLITE_STATIC);
  page = segment.firstPage;
  const int rc = findLeaf_.Step();
  if (rc == SQLITE_ROW) page = std::max(page, findLeaf_.Int(0) >> 1);
  findLeaf_.Reset();
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
}

template <typename Visit>
HRESULT FtsWordReader::EachTermLeaf(const std::vector<FtsSegment>& segments,
                                    const std::string& term, Visit visit) {
  for (const FtsSegment& seg : segments) {
    std::int64_t page = 0;
    const HRESULT hr = LeafOfTerm(seg, term, page);
    if (Failed(hr)) return hr;
    if (page > seg.lastPage) continue;
    Leaves leaves(*this, seg);
    const DoclistResult r = visit(leaves, page, seg.lastPage);
    if (r == DoclistResult::Damaged) return HresultFromSqlite(SQLITE_CORRUPT);
    if (r == DoclistResult::Found) break;
  }
  return S_OK;
}

HRESULT FtsWordReader::TermPresent(const std::vector<FtsSegment>& segments,
                                   const std::string& term, bool& present) {
  present = false;
  const std::span<const std::uint8_t> key(reinterpret_cast<const std::uint8_t*>(term.data()),
                                          term.size());
  return EachTermLeaf(segments, term, [&](LeafPages& leaves, std::int64_t page,
                                          std::int64_t lastPage) {
    const DoclistResult r = FindDoclist(leaves, page, lastPage, key);
    present = r == DoclistResult::Found;
    return r;
  });
}

HRESULT FtsWordReader::ReadTerm(const std::vector<FtsSegment>& segments, const std::string& term,
                                bool wantPositions, SegmentDoclist& merged) {
  merged.entries.clear();
  merged.positions.clear();
  const std::span<const std::uint8_t> key(reinterpret_cast<const std::uint8_t*>(term.data()),
                                          term.size());
  SegmentDoclist& one = one_;
  SegmentDoclist& combined = combined_;
  bool any = false;
  // Every segment is read: Absent, never Found, carries the walk on.
  const HRESULT hr = EachTermLeaf(segments, term, [&](LeafPages& leaves, std::int64_t page,
                                                      std::int64_t lastPage) {
    const DoclistResult r = ReadDoclist(leaves, page, lastPage, key, wantPositions, one);
    if (r == DoclistResult::Damaged) return r;
    if (r == DoclistResult::Absent || one.entries.empty()) return DoclistResult::Absent;
    if (!any) {
      std::swap(merged, one);
      any = true;
      return DoclistResult::Absent;
    }
    // An older segment: its rows count where no newer segment has an entry for them.
    combined.entries.clear();
    combined.positions.clear();
    auto add = [&](const SegmentDoclist& from, const WordPosting& e) {
      WordPosting copy = e;
      copy.firstPosition = static_cast<std::uint32_t>(combined.positions.size());
      if (wantPositions) {
        combined.positions.insert(combined.positions.end(),
                                  from.positions.begin() + e.firstPosition,
                                  from.positions.begin() + e.firstPosition + e.hits);
      }
      combined.entries.push_back(copy);
    };
    std::size_t a = 0, b = 0;
    while (a < merged.entries.size() || b < one.entries.size()) {
      if (b == one.entries.size() ||
          (a < merged.entries.size() && merged.entries[a].rowid <= one.entries[b].rowid)) {
        if (b < one.entries.size() && merged.entries[a].rowid == one.entries[b].rowid) ++b;
        add(merged, merged.entries[a++]);
      } else {
        add(one, one.entries[b++]);
      }
    }
    std::swap(merged, combined);
    return DoclistResult::Absent;
  });
  if (Failed(hr)) return hr;
  std::erase_if(merged.entries, [](const WordPosting& e) { return e.hits == 0; });
  return S_OK;
}

HRESULT FtsWordReader::Check() {
  auto prepare = [&](const char* sql, Statement& st, unsigned flags = 0) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, flags, &raw, nullptr);
    st = Statement(raw);
    return rc == SQLITE_OK;
  };
  Statement table, version, api;
  if (!prepare("SELECT sql FROM sqlite_master WHERE type='table' AND name='fts'", table)) {
    return S_FALSE;
  }
  const std::string sql = table.Step() == SQLITE_ROW ? table.Text(0) : "";
  // Only the table as the catalog makes it: every position kept, a length per column.
  if (sql.find("detail") != std::string::npos || sql.find("columnsize") != std::string::npos ||
      sql.find("content=") != std::string::npos || sql.find("content =") != std::string::npos ||
      !TokenizeArguments(sql, tokenizerArgs_)) {
    return S_FALSE;
  }
  if (!prepare("SELECT v FROM fts_config WHERE k='version'", version) ||
      version.Step() != SQLITE_ROW || version.Int(0) != kFormatVersion) {
    return S_FALSE;
  }
  if (!prepare("SELECT pgno FROM fts_idx WHERE segid=?1 AND term<=?2 "
               "ORDER BY term DESC LIMIT 1",
               findLeaf_, SQLITE_PREPARE_PERSISTENT)) {
    return S_FALSE;
  }
  if (!prepare("SELECT id, block FROM fts_data WHERE id >= ?1 AND id <= ?2 ORDER BY id", leaves_,
               SQLITE_PREPARE_PERSISTENT)) {
    return S_FALSE;
  }
  // The table's own tokenizer, made as FTS5 makes it, turns the word into its terms.
  fts5_api* fts = nullptr;
  if (!prepare("SELECT fts5(?1)", api)) return S_FALSE;
  sqlite3_bind_pointer(api.get(), 1, static_cast<void*>(&fts), "fts5_api_ptr", nullptr);
  if (api.Step() != SQLITE_ROW || !fts) return S_FALSE;
  void* context = nullptr;
  if (fts->xFindTokenizer(fts, tokenizerArgs_[0].c_str(), &context, &tokenizer_) != SQLITE_OK) {
    return S_FALSE;
  }
  std::vector<const char*> argv;
  for (std::size_t i = 1; i < tokenizerArgs_.size(); ++i) {
    argv.push_back(tokenizerArgs_[i].c_str());
  }
  if (tokenizer_.xCreate(context, argv.data(), static_cast<int>(argv.size()),
                         &tokenizerInstance_) != SQLITE_OK) {
    tokenizerInstance_ = nullptr;
    return S_FALSE;
  }
  return S_OK;
}

HRESULT FtsWordReader::Read(std::string_view matchText, std::span<const WordPosting>& out,
                            std::int64_t& tableRows, std::int64_t& tableTokens) {
  out = {};
  tableRows = tableTokens = 0;
  // One quoted word, as the query compiler writes a term: nothing else is read here.
  if (matchText.size() < 2 || matchText.front() != '"' || matchText.back() != '"') return S_FALSE;
  const std::string_view word = matchText.substr(1, matchText.size() - 2);
  if (word.find('"') != std::string_view::npos || word.empty()) return S_FALSE;
  if (!checked_) {
    checked_ = true;
    usable_ = Check() == S_OK;
  }
  if (!usable_) return S_FALSE;
  std::vector<std::string> terms;
  HRESULT hr = QueryTerms(word, terms);
  if (hr != S_OK) return hr;
  // Every page from one snapshot of the index.
  const bool ownTransaction = sqlite3_get_autocommit(db_) != 0;
  if (ownTransaction && sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return S_FALSE;
  }
  struct EndRead {
    sqlite3* db;
    bool own;
    ~EndRead() {
      if (own) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
  } endRead{db_, ownTransaction};
  // A statement left part way through the leaves would hold the read transaction open,
  // and later reads would keep seeing this snapshot.
  struct ResetLeaves {
    Statement& st;
    ~ResetLeaves() { st.Reset(); }
  } resetLeaves{leaves_};
  hr = ReadRecord(kStructureId, bytes_);
  if (Failed(hr)) return hr;
  if (!ParseStructure(bytes_, segments_)) return S_FALSE;
  hr = ReadRecord(kAveragesId, bytes_);
  if (Failed(hr)) return hr;
  // A table never written to keeps an empty record of its totals.
  if (!bytes_.empty()) {
    std::span<const std::uint8_t> p(bytes_);
    std::uint64_t v = 0;
    std::size_t n = GetSqliteVarint(p, v);
    if (!n) return HresultFromSqlite(SQLITE_CORRUPT);
    tableRows = static_cast<std::int64_t>(v & INT64_MAX);
    p = p.subspan(n);
    while (!p.empty() && (n = GetSqliteVarint(p, v)) != 0) {
      tableTokens += static_cast<std::int64_t>(v & 0xFFFFFFFFFFFF);
      p = p.subspan(n);
    }
  }
  if (lists_.size() < terms.size()) lists_.resize(terms.size());
  // A word whose forms are two or more in the index (a word and the stem it is written
  // beside) mostly shares its rows among them, and their positions must be compared: those
  // are read with positions at once. Finding a form costs a leaf, reading it every leaf.
  // Most words have one form in the index (a word that is its own stem still asks for its
  // marked form, which no document holds), and are counted without positions.
  if (terms.size() == 1) {
    hr = ReadTerm(segments_, terms[0], false, lists_[0]);
    if (Failed(hr)) return hr;
    out = lists_[0].entries;
    return S_OK;
  }
  present_.assign(terms.size(), false);
  std::size_t present = 0, only = 0;
  for (std::size_t i = 0; i < terms.size(); ++i) {
    bool here = false;
    hr = TermPresent(segments_, terms[i], here);
    if (Failed(hr)) return hr;
    present_[i] = here;
    if (here) {
      ++present;
      only = i;
    }
  }
  if (present == 0) return S_OK;
  if (present == 1) {
    hr = ReadTerm(segments_, terms[only], false, lists_[only]);
    if (Failed(hr)) return hr;
    out = lists_[only].entries;
    return S_OK;
  }
  for (std::size_t i = 0; i < terms.size(); ++i) {
    lists_[i].entries.clear();
    lists_[i].positions.clear();
    if (!present_[i]) continue;
    hr = ReadTerm(segments_, terms[i], true, lists_[i]);
    if (Failed(hr)) return hr;
  }
  // The forms of a word share positions where a stem stands beside its word: a row's hits
  // are its distinct positions over every form.
  forms_.clear();
  const std::span<SegmentDoclist> lists(lists_.data(), terms.size());
  std::vector<std::size_t> next(lists.size(), 0);
  for (;;) {
    std::int64_t lowest = INT64_MAX;
    bool more = false;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      if (next[i] < lists[i].entries.size()) {
        lowest = std::min(lowest, lists[i].entries[next[i]].rowid);
        more = true;
      }
    }
    if (!more) break;
    // Most rows hold one form, or two (a word and its marked stem), each form's positions
    // in order: counted without sorting.
    runs_.clear();
    std::uint32_t hits = 0;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      if (next[i] >= lists[i].entries.size()) continue;
      const auto& e = lists[i].entries[next[i]];
      if (e.rowid != lowest) continue;
      ++next[i];
      const std::span<const std::uint64_t> run(lists[i].positions.data() + e.firstPosition,
                                               e.hits);
      runs_.push_back(run);
      hits = e.hits;
    }
    if (runs_.size() == 2) {
      const auto& runs = runs_;
      hits = 0;
      std::size_t a = 0, b = 0;
      while (a < runs[0].size() || b < runs[1].size()) {
        if (b == runs[1].size() || (a < runs[0].size() && runs[0][a] < runs[1][b])) {
          ++a;
        } else if (a == runs[0].size() || runs[1][b] < runs[0][a]) {
          ++b;
        } else {
          ++a;
          ++b;
        }
        ++hits;
      }
    } else if (runs_.size() > 2) {
      scratch_.clear();
      for (const auto& run : runs_) scratch_.insert(scratch_.end(), run.begin(), run.end());
      std::sort(scratch_.begin(), scratch_.end());
      hits = static_cast<std::uint32_t>(std::unique(scratch_.begin(), scratch_.end()) -
                                        scratch_.begin());
    }
    forms_.push_back({lowest, hits, 0});
  }
  out = forms_;
  return S_OK;
}

}  // namespace qv::platform::indexing
