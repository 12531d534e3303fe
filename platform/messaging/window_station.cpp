#include "platform/messaging/window_station.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "platform/messaging/loop_core.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/socket_transport.h"

namespace qv::platform {

struct Window::State final : FrameSink {
  std::shared_ptr<detail::LoopCore> loop;
  Hwnd handle = 0;
  std::string className;
  bool messageOnly = false;
  mutable std::mutex mutex;
  std::string title;
  std::unique_ptr<Publication> publication;

  void OnFrame(Frame frame, ReplyFn reply) override {
    if (frame.kind == FrameKind::Post) {
      loop->Post(MessageFromFrame(frame));
      return;
    }
    if (frame.kind != FrameKind::Send || !reply) return;
    Frame answer;
    answer.kind = FrameKind::Reply;
    answer.seq = frame.seq;
    answer.target = frame.target;
    answer.message = frame.message;
    if ((frame.flags & kFrameAbortIfHung) != 0 && loop->IsHung()) {
      answer.status = ReplyStatus::Hung;
      reply(answer);
      return;
    }
    auto done = [reply, answer](std::optional<LRESULT> result) mutable {
      answer.status = result ? ReplyStatus::Ok : ReplyStatus::NoWindow;
      answer.result = result.value_or(0);
      reply(answer);
    };
    if (!loop->PostSend(MessageFromFrame(frame), done)) {
      // A closed loop or a full queue: the message cannot be handled, say so at once.
      done(std::nullopt);
    }
  }

  WindowInfo Describe() const override {
    WindowInfo info;
    info.handle = handle;
    info.className = className;
    info.messageOnly = messageOnly;
    info.pid = static_cast<std::int32_t>(::getpid());
    std::lock_guard lock(mutex);
    info.title = title;
    return info;
  }
};

Window::Window(std::shared_ptr<State> state) : state_(std::move(state)) {}

Window::~Window() {
  // Withdraw first, so that nothing new arrives, then leave the loop.
  state_->publication.reset();
  state_->loop->Unregister(state_->handle);
}

Hwnd Window::handle() const { return state_->handle; }
const std::string& Window::className() const { return state_->className; }
std::string Window::title() const {
  std::lock_guard lock(state_->mutex);
  return state_->title;
}
void Window::SetTitle(std::string title) {
  std::lock_guard lock(state_->mutex);
  state_->title = std::move(title);
}
bool Window::Post(std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  return state_->loop->Post(Message{state_->handle, message, wParam, lParam, {}});
}
void Window::SetTimer(std::uintptr_t id, std::chrono::milliseconds interval) {
  state_->loop->SetTimer(state_->handle, id, interval);
}
bool Window::KillTimer(std::uintptr_t id) { return state_->loop->KillTimer(state_->handle, id); }

WindowStation::WindowStation(std::shared_ptr<Transport> transport, const Clock& clock)
    : transport_(std::move(transport)), clock_(clock) {}

WindowStation::~WindowStation() = default;

HRESULT WindowStation::CreateWindow(MessageLoop& loop, const WindowSpec& spec, WindowProc proc,
                                    std::unique_ptr<Window>& out) {
  if (spec.className.empty() || spec.className.size() > kMaxClassNameBytes ||
      spec.className.find('\0') != std::string::npos || spec.title.size() > kMaxTitleBytes ||
      spec.title.find('\0') != std::string::npos || !proc) {
    return E_INVALIDARG;
  }
  auto state = std::make_shared<Window::State>();
  state->loop = loop.core();
  state->handle = transport_->NewHandle();
  state->className = spec.className;
  state->messageOnly = spec.messageOnly;
  state->title = spec.title;
  state->loop->Register(state->handle, std::make_shared<WindowProc>(std::move(proc)));
  const HRESULT hr = transport_->Publish(state->Describe(), state, state->publication);
  if (Failed(hr)) {
    state->loop->Unregister(state->handle);
    return hr;
  }
  {
    std::lock_guard lock(mutex_);
    std::erase_if(local_, [](const auto& entry) { return entry.second.expired(); });
    local_[state->handle] = state;
  }
  out.reset(new Window(std::move(state)));
  return S_OK;
}

Hwnd WindowStation::FindWindow(std::string_view className,
                               std::optional<std::string_view> title) {
  WindowQuery query{std::string(className),
                    title ? std::optional<std::string>(std::string(*title)) : std::nullopt, false};
  const auto found = transport_->Enumerate(query);
  return found.empty() ? 0 : found.front().handle;
}

Hwnd WindowStation::FindMessageWindow(std::string_view className,
                                      std::optional<std::string_view> title) {
  WindowQuery query{std::string(className),
                    title ? std::optional<std::string>(std::string(*title)) : std::nullopt, true};
  const auto found = transport_->Enumerate(query);
  return found.empty() ? 0 : found.front().handle;
}

std::optional<WindowInfo> WindowStation::FindMessageWindowInfo(std::string_view className) {
  auto found = transport_->Enumerate(WindowQuery{std::string(className), std::nullopt, true});
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::vector<Hwnd> WindowStation::FindWindows(const WindowQuery& query) {
  std::vector<Hwnd> out;
  for (const WindowInfo& info : transport_->Enumerate(query)) out.push_back(info.handle);
  return out;
}

bool WindowStation::IsWindow(Hwnd hwnd) {
  WindowInfo info;
  return hwnd != 0 && transport_->Describe(hwnd, info);
}

bool WindowStation::Describe(Hwnd hwnd, WindowInfo& out) {
  return hwnd != 0 && transport_->Describe(hwnd, out);
}

HRESULT WindowStation::PostMessage(Hwnd hwnd, std::uint32_t message, WPARAM wParam,
                                   LPARAM lParam) {
  if (message == WM_COPYDATA) return HresultFromWin32(ERROR_MESSAGE_SYNC_ONLY);
  if (hwnd == 0) return HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
  Frame frame = FrameFromMessage(FrameKind::Post, Message{hwnd, message, wParam, lParam, {}});
  // A post never waits for the receiver; the time-out only bounds handing the frame over.
  return transport_->Deliver(frame, std::chrono::milliseconds(1000), nullptr);
}

HRESULT WindowStation::SendMessageTimeout(Hwnd hwnd, std::uint32_t message, WPARAM wParam,
                                          LPARAM lParam, std::uint32_t flags,
                                          std::chrono::milliseconds timeout, LRESULT* result) {
  if (message == WM_COPYDATA) return E_INVALIDARG;  // needs its block: SendCopyData
  return Send(FrameFromMessage(FrameKind::Send, Message{hwnd, message, wParam, lParam, {}}),
              flags, timeout, result);
}

HRESULT WindowStation::SendCopyData(Hwnd hwnd, WPARAM wParam, const CopyData& data,
                                    std::uint32_t flags, std::chrono::milliseconds timeout,
                                    LRESULT* result) {
  if (data.bytes.size() > kMaxCopyDataBytes || (data.nullData && !data.bytes.empty())) {
    return E_INVALIDARG;
  }
  return Send(FrameFromMessage(FrameKind::Send, Message{hwnd, WM_COPYDATA, wParam, 0, data}),
              flags, timeout, result);
}

HRESULT WindowStation::Send(Frame frame, std::uint32_t flags, std::chrono::milliseconds timeout,
                            LRESULT* result) {
  if (frame.target == 0) return HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
  if ((flags & SMTO_ABORTIFHUNG) != 0) frame.flags |= kFrameAbortIfHung;
  // SMTO_NOTIMEOUTIFNOTHUNG would let a slow receiver block the sender for ever; the cap
  // holds for every send.
  timeout = std::clamp(timeout, std::chrono::milliseconds(0), kMaxSendTimeout);
  std::shared_ptr<Window::State> local;
  {
    std::lock_guard lock(mutex_);
    if (auto it = local_.find(frame.target); it != local_.end()) local = it->second.lock();
  }
  if (local && local->loop->OnLoopThread()) {
    const auto direct = local->loop->CallDirect(MessageFromFrame(frame));
    if (!direct) return HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
    if (result != nullptr) *result = *direct;
    return S_OK;
  }
  Frame reply;
  const HRESULT hr = transport_->Deliver(frame, timeout, &reply);
  if (Failed(hr)) return hr;
  switch (reply.status) {
    case ReplyStatus::Ok:
      if (result != nullptr) *result = reply.result;
      return S_OK;
    case ReplyStatus::NoWindow:
      return HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
    case ReplyStatus::Hung:
      break;
  }
  return HresultFromWin32(win32::ERROR_TIMEOUT);
}

HRESULT OpenUserWindowStation(const Clock& clock, const EventLog* eventLog,
                              std::unique_ptr<WindowStation>& out) {
  std::filesystem::path folder;
  HRESULT hr = OpenRuntimeFolder(folder);
  if (Failed(hr)) return hr;
  SocketTransportOptions options;
  options.folder = std::move(folder);
  options.eventLog = eventLog;
  options.uid = ::getuid();
  std::shared_ptr<SocketTransport> transport;
  hr = SocketTransport::Open(std::move(options), clock, transport);
  if (Failed(hr)) return hr;
  out = std::make_unique<WindowStation>(std::move(transport), clock);
  return S_OK;
}

}  // namespace qv::platform
