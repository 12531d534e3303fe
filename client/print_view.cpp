#include "client/print_view.h"

#include <algorithm>
#include <cstdio>

namespace qv::client {
namespace {

// U+2588 FULL BLOCK and the left one- to seven-eighths blocks U+258F..U+2589.
constexpr const char* kEighths[] = {"", "\u258F", "\u258E", "\u258D", "\u258C",
                                    "\u258B", "\u258A", "\u2589"};
constexpr const char* kFull = "\u2588";
constexpr const char* kShade = "\u2591";

std::size_t DisplayWidth(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Pad(std::string s, std::size_t width) {
  const std::size_t w = DisplayWidth(s);
  if (w < width) s.append(width - w, ' ');
  return s;
}

}  // namespace

std::string BarText(int percent, bool ranked, int width) {
  std::string out;
  int cells = 0;
  if (percent > 0) {
    const int eighths = std::min(percent, 100) * width * 8 / 100;
    if (ranked) {
      for (int i = 0; i < eighths / 8; ++i) out += kFull;
      out += kEighths[eighths % 8];
      cells = eighths / 8 + (eighths % 8 ? 1 : 0);
    } else {
      cells = (eighths + 4) / 8;
      for (int i = 0; i < cells; ++i) out += kShade;
    }
  }
  out.append(static_cast<std::size_t>(std::max(0, width - cells)), ' ');
  return out;
}

void PrintResults(const SearchResult& result, const PrintView& view, std::ostream& out) {
  struct Line {
    std::string score, bar, where, lastVisit, working;
  };
  std::vector<Line> lines;
  std::size_t count = result.RowCount();
  if (view.maxRows) count = std::min(count, view.maxRows);
  std::size_t whereWidth = 4;
  for (std::size_t i = 0; i < count; ++i) {
    const Row& row = result.DisplayRow(i);
    const float score = result.DisplayScore(i);
    const RowState state = LoadRowState(row, score, view.userScope, view.activation);
    Line l;
    if (result.HasScore(i)) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%9.3f", static_cast<double>(score));
      l.score = buf;
    }
    l.bar = BarText(state.bar, state.hasRanking, view.barWidth);
    l.where = state.kind == ItemKind::WebPage ? CellText(row, state, 1, view.texts) : state.path;
    if (state.hasRanking && row.size() > kFieldLvE && row[kFieldLvE].kind == ValueKind::Date &&
        view.texts.dates) {
      l.lastVisit = LocalDateTimeText(row[kFieldLvE].d, *view.texts.dates);
    }
    l.working = CellText(row, state, 4, view.texts);
    whereWidth = std::max(whereWidth, DisplayWidth(l.where));
    lines.push_back(std::move(l));
  }
  out << Pad("    score", 9) << "  " << Pad("bar", static_cast<std::size_t>(view.barWidth)) << "  "
      << Pad("path", whereWidth) << "  " << Pad("last visit", 19) << "  working time\n";
  for (const auto& l : lines) {
    out << Pad(l.score, 9) << "  " << l.bar << "  " << Pad(l.where, whereWidth) << "  "
        << Pad(l.lastVisit, 19) << "  " << l.working << "\n";
  }
}

}  // namespace qv::client
