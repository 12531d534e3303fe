#pragma once
// The table of open visits, one per window, and how visits open, take each other over,
// change and end. Changes happen on the event window's thread; the accounting pass reads and
// credits times with the table held shared.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "platform/desktop/desktop.h"
#include "tracer/recorders.h"
#include "tracer/visit.h"

namespace qv::tracer {

// Scores a window title against a path, 0 (no match) to 4 (full path and extension).
using TitleScorer = std::function<int(std::string_view title, std::string_view path)>;

struct VisitTableDeps {
  const Context& ctx;
  const platform::Desktop& desktop;
  VisitRecorders& recorders;
  TitleScorer scoreTitle;
  // A visit opened or was taken over: its window's coverage is to be measured.
  std::function<void()> opened = [] {};
  // Takes the input time waiting for the next pass for a visit that leaves the table.
  std::function<std::uint64_t(const Visit&)> takeInput = [](const Visit&) { return 0; };
};

// What an end or update message changes: a new identifier (empty: none), the flags' tracking
// nibble and recording bits, and new frame data (empty: none).
struct VisitChange {
  std::string identifier;
  std::uint32_t flags = 0;
  std::string frameData;
};

// Adds ((t - lastPass) / 100) x coverage to the working time when t is later than the last
// pass: the visible share of the window over the interval.
void CreditVisible(Visit& visit, std::int64_t t, std::int64_t lastPass);

class VisitTable {
 public:
  explicit VisitTable(VisitTableDeps deps);
  ~VisitTable();

  // S_OK (new visit or take-over); S_FALSE when ignored; E_INVALIDARG for a window that is
  // not one, an empty item, a zero tracking nibble or an item that is not a URL or an
  // absolute path; E_OUTOFMEMORY. Failures are logged with the item.
  HRESULT Open(platform::DesktopWindow window, std::int32_t kind, std::uint32_t documentKey,
               std::string_view item, std::uint32_t flags, std::string_view frameData);
  // Closes the first visit keyed by `window` if its kind is at least `minKind`; `change`
  // applies an end message's identifier and flags first. S_FALSE if nothing was closed.
  HRESULT Close(platform::DesktopWindow window, std::int32_t minKind,
                const std::optional<VisitChange>& change = std::nullopt);
  HRESULT Change(platform::DesktopWindow window, const VisitChange& change);
  // Every visit of an "outlook" URL.
  HRESULT CloseMailVisits();
  // Shutdown: every visit leaves; each is finished, or freed unrecorded when `discard`.
  HRESULT CloseAll(bool discard);
  // A visit that left the table: recorded if it passes the minimums, else freed. S_FALSE
  // when dropped.
  HRESULT Finish(VisitPtr visit);

  std::size_t Size() const { return size_.load(); }
  // Kind and document key of the first visit keyed by `window`.
  struct KeyInfo {
    std::int32_t kind = 0;
    std::uint32_t documentKey = 0;
    std::string source;
  };
  std::optional<KeyInfo> Find(platform::DesktopWindow window) const;
  // Calls f(Visit&) for every visit in table order, holding the table shared: visit times
  // belong to the accounting pass, which is the only caller that writes through this.
  template <typename F>
  void ForEachShared(F&& f) {
    std::shared_lock lock(mutex_);
    for (auto& v : visits_) f(*v);
  }
  // Copies of the open visits, for tests and diagnostics.
  std::vector<Visit> Snapshot() const;

  // The last accounting pass (monotonic, 100 ns), written by the pass.
  std::atomic<std::int64_t> lastPass{0};

 private:
  std::int64_t MonoNow() const;
  // Removes visits_[i] with its working time brought up to now; the table is held exclusively.
  VisitPtr TakeLocked(std::size_t i);
  std::optional<std::size_t> IndexLocked(platform::DesktopWindow window) const;
  void ApplyChange(Visit& v, const VisitChange& change);

  VisitTableDeps deps_;
  mutable std::shared_mutex mutex_;
  std::vector<VisitPtr> visits_;  // insertion order; keyed by Visit::window
  std::atomic<std::size_t> size_{0};
};

}  // namespace qv::tracer
