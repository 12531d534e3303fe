#include "platform/indexing/result_set.h"

#include <algorithm>

#include "common/oledate.h"
#include "common/utf.h"

namespace qv::platform::indexing {

void ReadCell(const CacheCell& c, ValueKind kind, Value& v) {
  if (c.type == SQLITE_NULL) return;
  const bool number = c.type == SQLITE_INTEGER || c.type == SQLITE_FLOAT;
  switch (kind) {
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8:
      if (!number) return;
      v.kind = kind;
      if (c.type == SQLITE_INTEGER) {
        v.i = c.i;
      } else if (c.d <= -9223372036854775808.0) {
        v.i = INT64_MIN;
      } else if (c.d >= 9223372036854775807.0) {
        v.i = INT64_MAX;
      } else {
        v.i = static_cast<std::int64_t>(c.d);
      }
      if (kind == ValueKind::UI4) v.i = std::clamp<std::int64_t>(v.i, 0, UINT32_MAX);
      if (kind == ValueKind::I4) v.i = std::clamp<std::int64_t>(v.i, INT32_MIN, INT32_MAX);
      return;
    case ValueKind::Date:
      if (!number) return;
      v.kind = kind;
      v.d = c.type == SQLITE_INTEGER ? static_cast<double>(c.i) : c.d;
      return;
    case ValueKind::Str:
      v.kind = kind;
      v.s = c.text;
      return;
    case ValueKind::Guid: {
      Guid g;
      if (ParseLooseGuid(c.text, g)) {
        v.kind = kind;
        v.g = g;
      }
      return;
    }
    case ValueKind::Null: return;
  }
}

const Row& ResultSet::RowAt(std::size_t i) const {
  Order(i);
  Row& row = rows_[i];
  const Pending& p = pending_[i];
  if (row.empty() && p.source != kWhole) {
    row.resize(columns.size());
    for (std::size_t c = 0; c < row.size(); ++c) row[c] = Read(p, c);
  }
  return row;
}

Value ResultSet::Field(std::size_t i, std::size_t column) const {
  Order(i);
  const Row& row = rows_[i];
  if (!row.empty() || pending_[i].source == kWhole) {
    return column < row.size() ? row[column] : Value{};
  }
  return column < columns.size() ? Read(pending_[i], column) : Value{};
}

std::vector<Row> ResultSet::Rows() const {
  std::vector<Row> all;
  all.reserve(RowCount());
  for (std::size_t i = 0; i < RowCount(); ++i) all.push_back(RowAt(i));
  return all;
}

void ResultSet::AddRow(Row row) {
  // Rows given whole come after the ones still to be ordered.
  if (count_ > 0) Order(count_ - 1);
  AddWhole(std::move(row));
  ++count_;
}

Value ResultSet::Read(const Pending& p, std::size_t column) const {
  const Source& s = sources_[p.source];
  Value v;
  const int cell = s.cells[column];
  if (cell == kRankCell) {
    v.kind = ValueKind::I4;
    v.i = p.rank;
  } else if (cell >= 0) {
    ReadCell(s.cache->Cell(cell, p.row), s.kinds[column], v);
  }
  return v;
}

std::string Value::ToString() const {
  switch (kind) {
    case ValueKind::Null: return "NULL";
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8: return std::to_string(i);
    case ValueKind::Date: return FormatIsoDate(d);
    case ValueKind::Str: return s;
    case ValueKind::Guid: return FormatGuid(g);
  }
  return {};
}

int CompareValues(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  switch (a.kind) {
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8: return a.i < b.i ? -1 : a.i > b.i;
    case ValueKind::Date: return a.d < b.d ? -1 : a.d > b.d;
    case ValueKind::Str: return CompareNoCase(a.s, b.s);
    case ValueKind::Guid: return a.g < b.g ? -1 : (b.g < a.g ? 1 : 0);
    case ValueKind::Null: return 0;
  }
  return 0;
}

}  // namespace qv::platform::indexing
