#pragma once
// A zip archive in memory, read member by member within ReaderLimits: the number of members
// is bounded, and every byte inflated from any member counts against one budget, so a member
// that claims to be small but inflates without end stops at the budget.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/indexing/document_text.h"

struct zip;

namespace qv::platform::readers {

class ZipArchive {
 public:
  // FILTER_E_UNKNOWNFORMAT for bytes that are not a zip archive; kLimitExceeded for more
  // members than maxEntries. The bytes must outlive the archive.
  static HRESULT Open(std::string_view bytes, const ReaderLimits& limits,
                      std::unique_ptr<ZipArchive>& out);
  ZipArchive(zip* archive, std::uint64_t budget) : zip_(archive), budget_(budget) {}
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  bool Has(std::string_view name) const;
  const std::vector<std::string>& Names() const { return names_; }
  // The member's inflated bytes. STG_E_FILENOTFOUND when there is no such member,
  // kLimitExceeded when the decompression budget runs out, FILTER_E_UNKNOWNFORMAT for a
  // member that does not inflate.
  HRESULT Read(std::string_view name, std::string& out);
  // The same, handed out piece by piece as it inflates; `piece` answers false to stop early
  // (S_FALSE then). `last` is true with the final piece.
  using PieceFn = std::function<bool(std::string_view piece, bool last)>;
  HRESULT ReadPieces(std::string_view name, const PieceFn& piece);

 private:
  zip* zip_;
  std::uint64_t budget_;  // bytes that may still be inflated
  std::uint64_t claimed_ = 0;  // the size the archive claims for the member being read
  std::vector<std::string> names_;
};

}  // namespace qv::platform::readers
