#pragma once
// The terminal form of the result list (QvSeek --print): one line per row with its score, its
// activation bar in block characters, the path or URL, the last visit and the working time.
#include <ostream>
#include <string>

#include "client/result_rows.h"
#include "client/search_run.h"

namespace qv::client {

// `percent` of `width` cells in eighth blocks; a row without ranking by this user is drawn
// in light shade, a row without a bar as blanks.
std::string BarText(int percent, bool ranked, int width);

struct PrintView {
  std::uint32_t userScope = 0;
  IBaseActivation* activation = nullptr;
  CellTexts texts;
  int barWidth = 10;
  std::size_t maxRows = 0;  // 0: all
};

void PrintResults(const SearchResult& result, const PrintView& view, std::ostream& out);

// The fields of a result row that the printed list never reads, so a search for it need not
// read them: names, titles, mail fields, active time, visits and search keys.
inline constexpr std::uint64_t kFieldsPrintDoesNotRead =
    std::uint64_t{1} << kFieldFilename | std::uint64_t{1} << kFieldDocTitle | std::uint64_t{1} << kFieldActiveTime | std::uint64_t{1} << kFieldVisits |
    std::uint64_t{1} << kFieldSearchKey | std::uint64_t{1} << kFieldEmlFolder | std::uint64_t{1} << kFieldEmlPrefix |
    std::uint64_t{1} << kFieldEmlSubject | std::uint64_t{1} << kFieldEmlAddress | std::uint64_t{1} << kFieldEmlMsgFlags;

}  // namespace qv::client
