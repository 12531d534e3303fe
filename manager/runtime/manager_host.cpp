#include "manager/runtime/manager_host.h"

#include "context/event_report.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "manager/runtime/cache_folder.h"
#include "platform/folders/folders.h"

namespace qv::manager {

ManagerHost::ManagerHost(const Context& ctx, platform::WindowStation& station,
                         platform::MessageLoop& loop, ManagerCore& core)
    : ctx_(ctx), station_(station), loop_(loop), core_(core) {}

ManagerHost::~ManagerHost() = default;

HRESULT ManagerHost::Create() {
  std::unique_ptr<platform::Window> window;
  const HRESULT hr = station_.CreateWindow(
      loop_, {std::string(hooks::kHostWindowClass), std::string(kHostWindowTitle)},
      [this](const platform::Message& m) { return Proc(m); }, window);
  if (Failed(hr)) return hr;
  {
    const std::lock_guard lock(windowMutex_);
    window_ = std::move(window);
  }
  // The search client and the settings for other processes' commands; without the class
  // those commands do nothing.
  if (Failed(ctx_.classes.CreateInstance(CLSID_KivUIUtils, uiUtils_))) uiUtils_.reset();
  cacheFolder_ = ReadPublishedCacheFolder(CacheFolderFile(
      platform::KnownFolderPath(ctx_.root, platform::KnownFolder::LocalAppData)));
  core_.Start();
  Refresh();
  return S_OK;
}

void ManagerHost::SetTimer(bool running) {
  if (!window_) return;
  if (running) {
    window_->SetTimer(kPollTimer, std::chrono::seconds(core_.config().statusPollSeconds));
  } else {
    window_->KillTimer(kPollTimer);
  }
}

void ManagerHost::Close() {
  if (closed_) return;
  closed_ = true;
  core_.SetEnding(true);
  core_.Stop();
  {
    const std::lock_guard lock(windowMutex_);
    window_.reset();
  }
  uiUtils_.reset();
  loop_.PostQuit(0);
}

void ManagerHost::Post(std::uint32_t message, std::uint64_t wParam) {
  const std::lock_guard lock(windowMutex_);
  if (window_) window_->Post(message, wParam, 0);
}

void ManagerHost::PostClose() { Post(platform::WM_CLOSE, 0); }

void ManagerHost::PostCommand(std::uint64_t command) { Post(platform::WM_COMMAND, command); }

void ManagerHost::Refresh(std::uint64_t busyBits) {
  core_.Busy(busyBits);
  IconUpdate update;
  update.choice = core_.Icon();
  update.state = core_.state();
  update.showIcon = core_.config().showIcon;
  update.showBalloon = update.showIcon && update.choice.message != lastMessage_;
  if (update.showBalloon) lastMessage_ = update.choice.message;
  if (observer_) observer_(update);
}

void ManagerHost::OnTick() {
  core_.Tick();
  Refresh();
  // The browser cache folder, for the web history plug-in.
  const auto localAppData = platform::KnownFolderPath(ctx_.root, platform::KnownFolder::LocalAppData);
  const auto cache = platform::KnownFolderPath(ctx_.root, platform::KnownFolder::InternetCache);
  if (cache.empty()) {
    ReportEvent(ctx_, platform::EventType::Warning, kManagerCategory, kEvCacheFolderUnknown, {});
    return;
  }
  const HRESULT hr = PublishCacheFolder(CacheFolderFile(localAppData), cache.string(), cacheFolder_);
  if (hr == E_INVALIDARG) {
    ReportEvent(ctx_, platform::EventType::Warning, kManagerCategory, kEvCachePathFailed,
                {FormatLowWord(hr), SystemMessage(hr)});
  } else if (Failed(hr)) {
    ReportEvent(ctx_, platform::EventType::Error, kManagerCategory, kEvCacheWriteFailed,
                {FormatLowWord(hr), SystemMessage(hr)});
  }
}

platform::LRESULT ManagerHost::Proc(const platform::Message& m) {
  switch (m.message) {
    case platform::WM_TIMER:
      if (m.wParam == kPollTimer) OnTick();
      return 0;
    case hooks::KIVM_TRACER_BUSY:
      Refresh(m.wParam);
      return 0;
    case platform::WM_CLOSE:
      Close();
      return 0;
    case platform::WM_QUERYENDSESSION:
      core_.SetEnding(true);
      return 1;
    case platform::WM_ENDSESSION:
      core_.SetEnding(m.wParam != 0);
      return 0;
    case platform::WM_COMMAND:
      switch (m.wParam & 0xFFFF) {
        case kCmdDisable:
          core_.Disable();
          Refresh();
          break;
        case kCmdEnable:
          core_.Enable();
          Refresh();
          break;
        case kCmdClose:
          Close();
          break;
        case kCmdOpenSearch:
          if (uiUtils_) (void)uiUtils_->Run(std::string());
          break;
        case kCmdOptions:
          if (uiUtils_) (void)uiUtils_->Options();
          break;
        case kCmdStatusSheet:
          if (showStatus_) showStatus_();
          break;
        default:
          break;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace qv::manager
