#pragma once
// The typed rows a catalog query answers with (the record set of the OLE DB provider that
// the Indexing Service offers), and how a value of the property cache reads as one.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/guid.h"
#include "platform/indexing/property_cache.h"

namespace qv::platform::indexing {

enum class ValueKind : std::uint8_t { Null, I4, UI4, I8, Date, Str, Guid };

struct Value {
  ValueKind kind = ValueKind::Null;
  std::int64_t i = 0;  // I4, UI4, I8
  double d = 0.0;      // Date
  std::string s;       // Str
  Guid g;              // Guid
  bool IsNull() const { return kind == ValueKind::Null; }
  std::string ToString() const;
  friend bool operator==(const Value&, const Value&) = default;
};

// Orders two values of one column; NULL is below everything.
int CompareValues(const Value& a, const Value& b);

using Row = std::vector<Value>;

// The rows of a query, in order. Like a keyset cursor it holds which documents answer and
// reads a document's values when they are asked for: a search of thirty thousand answers
// scores every row on a few fields and shows a screenful of whole rows.
class ResultSet {
 public:
  std::vector<std::string> columns;
  std::vector<ValueKind> types;

  std::size_t RowCount() const { return count_; }
  bool empty() const { return count_ == 0; }
  // The whole row, read when first asked for and kept.
  const Row& RowAt(std::size_t i) const;
  // One value of a row, without reading the rest of it.
  Value Field(std::size_t i, std::size_t column) const;
  // Every row, read now.
  std::vector<Row> Rows() const;
  // Appends a row given whole.
  void AddRow(Row row);

  // Rows not yet put in order: handed out one at a time, first in order first, when a row at
  // or past them is asked for. A search of thirty thousand matches orders the screenful it
  // shows, not every match.
  class Unordered {
   public:
    virtual ~Unordered() = default;
    // Appends the next row in order to `rows`, whole or as a cache row.
    virtual void Next(ResultSet& rows) = 0;
  };

 private:
  friend class QueryExecutor;
  friend class RowHeap;
  // Rows still in a catalog's property cache: which cache, and where each answer column is.
  struct Source {
    std::shared_ptr<const PropertyCache> cache;
    std::vector<int> cells;  // per answer column: cache column, -1 when it has none
    std::vector<ValueKind> kinds;
    std::size_t rankColumn = SIZE_MAX;  // the answer column that holds the rank
  };
  struct Pending {
    std::uint32_t source = 0;  // kWhole: the row is in rows_
    std::uint32_t row = 0;     // the cache row
    std::int32_t rank = 0;
  };
  static constexpr std::uint32_t kWhole = UINT32_MAX;
  Value Read(const Pending& p, std::size_t column) const;
  // Puts rows in order up to row i.
  void Order(std::size_t i) const {
    while (pending_.size() <= i && pending_.size() < count_) {
      rest_->Next(const_cast<ResultSet&>(*this));
    }
  }
  // The next row in order, of those counted already.
  void AddCached(std::uint32_t source, std::uint32_t row, std::int32_t rank) {
    rows_.emplace_back();
    pending_.push_back({source, row, rank});
  }
  void AddWhole(Row row) {
    rows_.push_back(std::move(row));
    pending_.push_back({kWhole, 0, 0});
  }

  std::vector<Source> sources_;
  // Both grow as rows are put in order; count_ counts the rows still unordered too.
  mutable std::vector<Pending> pending_;
  // Empty until read, for rows still in a cache. A deque: a row handed out stays where it is
  // while later rows are put in order.
  mutable std::deque<Row> rows_;
  std::size_t count_ = 0;
  std::unique_ptr<Unordered> rest_;
};

// In a lazy row's column map: the rank, not a cache column.
inline constexpr int kRankCell = -2;

// A stored value as the column's type reads it: what the executor makes of the same value
// read from SQLite. Text columns hold text only (the executor checks), so no number is ever
// turned into text here. `v` is a fresh NULL value.
void ReadCell(const CacheCell& c, ValueKind kind, Value& v);

}  // namespace qv::platform::indexing
