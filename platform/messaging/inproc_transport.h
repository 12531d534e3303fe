#pragma once
// The transport inside one process, for tests: the same encoded frames as between
// processes, delivered through memory. Several WindowStations sharing one instance behave
// like several processes of one user.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "common/clock.h"
#include "platform/messaging/transport.h"

namespace qv::platform {

class InProcessTransport final : public Transport {
 public:
  explicit InProcessTransport(const Clock& clock);
  ~InProcessTransport() override;

  Hwnd NewHandle() override;
  HRESULT Publish(const WindowInfo& info, std::shared_ptr<FrameSink> sink,
                  std::unique_ptr<Publication>& out) override;
  std::vector<WindowInfo> Enumerate(const WindowQuery& query) override;
  bool Describe(Hwnd handle, WindowInfo& out) override;
  HRESULT Deliver(const Frame& frame, std::chrono::milliseconds timeout,
                  Frame* reply) override;

  struct Shared;

 private:
  const Clock& clock_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace qv::platform
