#include "platform/messaging/inproc_transport.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>

#include "platform/messaging/message_ids.h"

namespace qv::platform {

struct InProcessTransport::Shared {
  struct Entry {
    std::shared_ptr<FrameSink> sink;
    std::uint64_t order = 0;
    int inFlight = 0;  // deliveries inside the sink right now
  };
  std::mutex mutex;
  std::condition_variable idle;
  std::map<Hwnd, Entry> windows;
  std::uint64_t nextOrder = 0;
  std::uint32_t nextSerial = 1;
};

namespace {

class InProcessPublication final : public Publication {
 public:
  InProcessPublication(std::shared_ptr<InProcessTransport::Shared> shared, Hwnd handle)
      : shared_(std::move(shared)), handle_(handle) {}
  ~InProcessPublication() override {
    std::unique_lock lock(shared_->mutex);
    auto it = shared_->windows.find(handle_);
    if (it == shared_->windows.end()) return;
    shared_->idle.wait(lock, [&] { return it->second.inFlight == 0; });
    shared_->windows.erase(it);
  }

 private:
  std::shared_ptr<InProcessTransport::Shared> shared_;
  Hwnd handle_;
};

// The reply of one send, filled in by whichever thread runs the window procedure.
struct PendingReply {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<Frame> frame;
};

}  // namespace

InProcessTransport::InProcessTransport(const Clock& clock)
    : clock_(clock), shared_(std::make_shared<Shared>()) {}

InProcessTransport::~InProcessTransport() = default;

Hwnd InProcessTransport::NewHandle() {
  std::lock_guard lock(shared_->mutex);
  return (static_cast<Hwnd>(static_cast<std::uint32_t>(::getpid())) << 32) |
         shared_->nextSerial++;
}

HRESULT InProcessTransport::Publish(const WindowInfo& info, std::shared_ptr<FrameSink> sink,
                                    std::unique_ptr<Publication>& out) {
  std::lock_guard lock(shared_->mutex);
  if (shared_->windows.count(info.handle) != 0) {
    return HresultFromWin32(win32::ERROR_ALREADY_EXISTS);
  }
  shared_->windows[info.handle] = Shared::Entry{std::move(sink), shared_->nextOrder++, 0};
  out = std::make_unique<InProcessPublication>(shared_, info.handle);
  return S_OK;
}

std::vector<WindowInfo> InProcessTransport::Enumerate(const WindowQuery& query) {
  std::vector<std::pair<std::uint64_t, std::shared_ptr<FrameSink>>> sinks;
  {
    std::lock_guard lock(shared_->mutex);
    for (const auto& [handle, entry] : shared_->windows) sinks.emplace_back(entry.order, entry.sink);
  }
  // Newest first, as with the socket transport.
  std::sort(sinks.begin(), sinks.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<WindowInfo> out;
  for (const auto& [order, sink] : sinks) {
    WindowInfo info = sink->Describe();
    if (Matches(query, info)) out.push_back(std::move(info));
  }
  return out;
}

bool InProcessTransport::Describe(Hwnd handle, WindowInfo& out) {
  std::shared_ptr<FrameSink> sink;
  {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->windows.find(handle);
    if (it == shared_->windows.end()) return false;
    sink = it->second.sink;
  }
  out = sink->Describe();
  return true;
}

HRESULT InProcessTransport::Deliver(const Frame& frame, std::chrono::milliseconds timeout,
                                    Frame* reply) {
  if (frame.kind != FrameKind::Post && frame.kind != FrameKind::Send) return E_INVALIDARG;
  // The frame goes through the wire format, so that tests here see what a peer would.
  std::vector<std::uint8_t> bytes;
  HRESULT hr = EncodeFrame(frame, bytes);
  if (Failed(hr)) return hr;
  Frame decoded;
  hr = DecodeFrame(bytes, decoded);
  if (Failed(hr)) return hr;

  std::shared_ptr<FrameSink> sink;
  {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->windows.find(frame.target);
    if (it == shared_->windows.end()) return HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
    sink = it->second.sink;
    ++it->second.inFlight;
  }
  auto pending = std::make_shared<PendingReply>();
  ReplyFn replyFn;
  if (decoded.kind == FrameKind::Send && reply != nullptr) {
    replyFn = [pending](const Frame& answer) {
      // Through the wire format as well; an answer that does not survive it is lost.
      std::vector<std::uint8_t> wire;
      Frame back;
      if (Failed(EncodeFrame(answer, wire)) || Failed(DecodeFrame(wire, back))) return;
      std::lock_guard lock(pending->mutex);
      pending->frame = std::move(back);
      pending->ready.notify_all();
    };
  }
  sink->OnFrame(std::move(decoded), replyFn);
  {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->windows.find(frame.target);
    if (it != shared_->windows.end()) --it->second.inFlight;
    shared_->idle.notify_all();
  }
  if (!replyFn) return S_OK;
  std::unique_lock lock(pending->mutex);
  if (!pending->ready.wait_for(lock, timeout, [&] { return pending->frame.has_value(); })) {
    return HresultFromWin32(win32::ERROR_TIMEOUT);
  }
  *reply = *pending->frame;
  return S_OK;
}

}  // namespace qv::platform
