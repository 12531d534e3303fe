#pragma once
// A RecentFolder that tests and the demo drive: they add links and break reads by hand.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "platform/desktop/recent_folder.h"

namespace qv::platform {

class SimRecentFolder final : public RecentFolder {
 public:
  HRESULT Open() override;
  HRESULT Close() override;
  HRESULT Read(RecentBatch& out) override;
  void Wait(std::chrono::milliseconds timeout) override;
  void Wake() override;
  HRESULT Resolve(const RecentChange& change, std::string& target) override;

  // A link written into the folder; `target` nullopt makes a link that does not resolve.
  void WriteLink(std::string name, std::optional<std::string> target,
                 std::uint32_t action = kRecentActionAdded);
  // A notice that carries no records.
  void RaiseEmpty();
  // The next `count` opens, or reads, fail with `hr`.
  void FailOpens(HRESULT hr, std::uint32_t count);
  void FailReads(HRESULT hr, std::uint32_t count);
  bool IsOpen() const;
  std::uint32_t OpenAttempts() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
  bool woken_ = false;
  std::deque<RecentBatch> pending_;
  std::map<std::string, std::optional<std::string>> links_;
  HRESULT openFail_ = S_OK, readFail_ = S_OK;
  std::uint32_t openFails_ = 0, readFails_ = 0, openAttempts_ = 0;
};

}  // namespace qv::platform
