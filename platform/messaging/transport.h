#pragma once
// How frames travel between a sender and a window: through Unix-domain sockets between
// processes (socket_transport.h) or through memory inside one process (inproc_transport.h).
// Both carry the same encoded frames.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "platform/messaging/frame.h"

namespace qv::platform {

struct WindowInfo {
  Hwnd handle = 0;
  std::string className;
  std::string title;
  bool messageOnly = false;
  std::int32_t pid = 0;
  // False for a window whose process lives but did not answer who it is (stopped or stuck):
  // such a window is found by its class only, and a send with SMTO_ABORTIFHUNG fails at once.
  bool responding = true;
};

// Which windows a search matches. FindWindow looks at top-level windows only and
// FindWindowEx under HWND_MESSAGE at message-only windows only, hence `messageOnly`.
struct WindowQuery {
  std::optional<std::string> className;  // nullopt matches every class; names compare without case
  std::optional<std::string> title;      // nullopt matches every title; titles compare exactly
  bool messageOnly = false;
};

bool Matches(const WindowQuery& query, const WindowInfo& info);

// Sends the reply of a Send frame; may be called from any thread, at most once.
using ReplyFn = std::function<void(const Frame& reply)>;

// The receiving end of a published window. Called on a transport thread.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // `reply` is empty for posts. For sends it is called exactly once, possibly later.
  virtual void OnFrame(Frame frame, ReplyFn reply) = 0;
  // The window as it is now (its title may change), for queries.
  virtual WindowInfo Describe() const = 0;
};

// Keeps a window reachable; destroying it withdraws the window and waits until no transport
// thread is inside the sink any more.
class Publication {
 public:
  virtual ~Publication() = default;
};

class Transport {
 public:
  virtual ~Transport() = default;

  // A handle no other live window has.
  virtual Hwnd NewHandle() = 0;
  virtual HRESULT Publish(const WindowInfo& info, std::shared_ptr<FrameSink> sink,
                          std::unique_ptr<Publication>& out) = 0;
  // Every live window the query matches, in a stable order. Windows of dead processes are
  // never returned (and are cleaned up on the way).
  virtual std::vector<WindowInfo> Enumerate(const WindowQuery& query) = 0;
  // Describes one window; false if it does not exist or is dead.
  virtual bool Describe(Hwnd handle, WindowInfo& out) = 0;
  // Delivers a Post or a Send frame to frame.target. For a Send, waits at most `timeout` for
  // the reply and stores it in `reply`. Results: S_OK;
  // HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE) if the window does not exist;
  // HresultFromWin32(ERROR_TIMEOUT) if no reply came in time or the receiver is hung;
  // E_INVALIDARG for a frame that cannot be encoded.
  virtual HRESULT Deliver(const Frame& frame, std::chrono::milliseconds timeout,
                          Frame* reply) = 0;
};

}  // namespace qv::platform
