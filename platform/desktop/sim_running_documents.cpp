#include "platform/desktop/sim_running_documents.h"

namespace qv::platform {

HRESULT SimRunningDocuments::Enumerate(std::vector<RunningDocument>& out) {
  std::lock_guard lock(mutex_);
  ++enumerations_;
  out.clear();
  if (failCount_ > 0) {
    --failCount_;
    return fail_;
  }
  for (const auto& [id, path] : open_) out.push_back({DocumentKey(path), path});
  return S_OK;
}

SimRunningDocuments::InstanceId SimRunningDocuments::Open(std::string path) {
  std::lock_guard lock(mutex_);
  open_.emplace(next_, std::move(path));
  return next_++;
}

bool SimRunningDocuments::Close(InstanceId id) {
  std::lock_guard lock(mutex_);
  return open_.erase(id) == 1;
}

void SimRunningDocuments::FailNext(HRESULT hr, std::uint32_t count) {
  std::lock_guard lock(mutex_);
  fail_ = hr;
  failCount_ = count;
}

std::uint32_t SimRunningDocuments::Enumerations() const {
  std::lock_guard lock(mutex_);
  return enumerations_;
}

}  // namespace qv::platform
