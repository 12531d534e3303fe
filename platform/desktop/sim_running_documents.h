#pragma once
// A RunningDocuments source that tests and the demo fill by hand.
#include <map>
#include <mutex>

#include "platform/desktop/running_documents.h"

namespace qv::platform {

class SimRunningDocuments final : public RunningDocuments {
 public:
  using InstanceId = std::uint32_t;

  HRESULT Enumerate(std::vector<RunningDocument>& out) override;

  // One more instance of the document; each Open is one entry until its Close.
  InstanceId Open(std::string path);
  bool Close(InstanceId id);
  // The next `count` enumerations fail with `hr`.
  void FailNext(HRESULT hr, std::uint32_t count = 1);
  std::uint32_t Enumerations() const;

 private:
  mutable std::mutex mutex_;
  std::map<InstanceId, std::string> open_;
  InstanceId next_ = 1;
  HRESULT fail_ = S_OK;
  std::uint32_t failCount_ = 0;
  std::uint32_t enumerations_ = 0;
};

}  // namespace qv::platform
