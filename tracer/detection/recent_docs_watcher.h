#pragma once
// The Recent-folder watcher: every link that the desktop adds or renews in the user's Recent
// folder names a document just opened. Links named like "report.odt.lnk" (a name with an
// extension, then the link's own) are resolved and their targets reported; links to folders
// ("Documents.lnk") are not.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "context/context.h"
#include "platform/desktop/recent_folder.h"
#include "tracer/detection/document_events.h"
#include "tracer/worker.h"

namespace qv::tracer {

// Whether a link's name still has an extension once its own is removed.
bool IsDocumentLinkName(std::string_view name);

class RecentDocsWatcher final : public Worker {
 public:
  RecentDocsWatcher(const Context& ctx, platform::RecentFolder& folder, DocumentEvents& events)
      : ctx_(ctx), folder_(folder), events_(events) {}

  void RequestStop();

  const char* Name() const override { return "RecentDocsWatcher"; }
  Step RunReady() override;
  void WaitForWork() override;

  bool IsWatching() const { return open_; }

 private:
  using Mono = std::chrono::nanoseconds;
  Step TryOpen();
  Step ReadOnce();
  Step End();

  const Context& ctx_;
  platform::RecentFolder& folder_;
  DocumentEvents& events_;

  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;

  // Owned by the watcher's thread.
  bool open_ = false;
  bool ended_ = false;
  std::uint32_t openAttempts_ = 0;
  std::uint32_t failedReads_ = 0;
  Mono nextAttempt_{0};
};

}  // namespace qv::tracer
