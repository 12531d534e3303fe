#pragma once
// The visits the preview pane reports to the tracer: showing the selected item counts
// towards its ranking but writes no journal entry; pages reached from inside the preview
// neither count nor are journaled; clearing or replacing the preview ends the visit.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::hooks {
class VisitClient;
}

namespace qv::client {

// Visit flags of the visit interface.
inline constexpr std::uint32_t kPreviewShownFlags = 0x21;     // track, no journal entry
inline constexpr std::uint32_t kPreviewLinkFlags = 0x22;      // no tracking, no journal entry
inline constexpr std::uint32_t kPreviewClearedFlags = 0x20;   // no journal entry

// The visit interface as the pane uses it; S_FALSE when no tracer runs.
class VisitReporter {
 public:
  virtual ~VisitReporter() = default;
  virtual HRESULT Start(std::uint64_t window, std::string_view item, std::uint32_t flags) = 0;
  virtual HRESULT End(std::uint64_t window, std::uint32_t flags) = 0;
};

// The visit interface of QvHooks.
class HooksVisitReporter final : public VisitReporter {
 public:
  explicit HooksVisitReporter(hooks::VisitClient& client) : client_(client) {}
  HRESULT Start(std::uint64_t window, std::string_view item, std::uint32_t flags) override;
  HRESULT End(std::uint64_t window, std::uint32_t flags) override;

 private:
  hooks::VisitClient& client_;
};

// Pages that are never reported: an empty address, one starting with ':', "https" or
// "about:blank".
bool IsUnreportedPage(std::string_view url);
// Whether a page is the previewed item's own: equal without regard to case, or equal once
// a trailing slash is dropped from either.
bool IsSamePage(std::string_view a, std::string_view b);

class PreviewVisits {
 public:
  // `viewer` is the pane's viewer window, the key of every visit it reports.
  PreviewVisits(VisitReporter& reporter, std::uint64_t viewer)
      : reporter_(reporter), viewer_(viewer) {}

  // The pane shows `item` (its identifier: a path, URL or mail identifier). An item that was
  // shown before is ended first.
  HRESULT ItemShown(std::string_view item);
  // The viewer went to `url` from inside the preview. Going back to the item's own page
  // counts as showing the item again.
  HRESULT Navigated(std::string_view url);
  // The preview was cleared (or is about to be replaced).
  HRESULT Cleared();

  bool visitOpen() const { return open_; }

 private:
  HRESULT Start(std::string_view item, std::uint32_t flags);

  VisitReporter& reporter_;
  std::uint64_t viewer_;
  std::string item_;
  bool open_ = false;
};

}  // namespace qv::client
