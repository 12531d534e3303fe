#include "platform/desktop/sim_recent_folder.h"

namespace qv::platform {

HRESULT SimRecentFolder::Open() {
  std::lock_guard lock(mutex_);
  ++openAttempts_;
  if (openFails_ > 0) {
    --openFails_;
    return openFail_;
  }
  open_ = true;
  return S_OK;
}

HRESULT SimRecentFolder::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  return S_OK;
}

HRESULT SimRecentFolder::Read(RecentBatch& out) {
  std::lock_guard lock(mutex_);
  out = {};
  woken_ = false;
  if (!open_) return HresultFromWin32(win32::ERROR_INVALID_HANDLE);
  if (readFails_ > 0) {
    --readFails_;
    return readFail_;
  }
  if (pending_.empty()) return S_FALSE;
  out = std::move(pending_.front());
  pending_.pop_front();
  return S_OK;
}

void SimRecentFolder::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, timeout, [&] { return woken_ || !pending_.empty() || readFails_ > 0; });
}

void SimRecentFolder::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  cv_.notify_all();
}

HRESULT SimRecentFolder::Resolve(const RecentChange& change, std::string& target) {
  std::lock_guard lock(mutex_);
  const auto it = links_.find(change.link);
  if (it == links_.end() || !it->second) return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  target = *it->second;
  return S_OK;
}

void SimRecentFolder::WriteLink(std::string name, std::optional<std::string> target,
                                std::uint32_t action) {
  std::lock_guard lock(mutex_);
  links_[name] = std::move(target);
  if (!open_) return;  // nobody watches: the change is not seen
  RecentBatch b;
  b.changes.push_back({action, name, name});
  pending_.push_back(std::move(b));
  cv_.notify_all();
}

void SimRecentFolder::RaiseEmpty() {
  std::lock_guard lock(mutex_);
  RecentBatch b;
  b.empty = true;
  pending_.push_back(std::move(b));
  cv_.notify_all();
}

void SimRecentFolder::FailOpens(HRESULT hr, std::uint32_t count) {
  std::lock_guard lock(mutex_);
  openFail_ = hr;
  openFails_ = count;
}

void SimRecentFolder::FailReads(HRESULT hr, std::uint32_t count) {
  std::lock_guard lock(mutex_);
  readFail_ = hr;
  readFails_ = count;
  cv_.notify_all();
}

bool SimRecentFolder::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::uint32_t SimRecentFolder::OpenAttempts() const {
  std::lock_guard lock(mutex_);
  return openAttempts_;
}

}  // namespace qv::platform
