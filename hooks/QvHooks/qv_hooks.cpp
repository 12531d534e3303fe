// The C exports. Their callers pass no context, so the library keeps one set of per-process
// state, created on first use (nothing runs at load): the bound input source, the hooks on
// it, and the window station of the user's runtime folder.
#include "hooks/QvHooks/qv_hooks.h"

#include <memory>
#include <mutex>

#include "hooks/QvHooks/input_hooks.h"
#include "hooks/QvHooks/visit_client.h"
#include "hooks/QvHooks/x_window_check.h"
#include "platform/desktop/input_source.h"

namespace qv::hooks {
namespace {

class HooksProcess {
 public:
  HRESULT Install() {
    std::lock_guard lock(mutex_);
    if (input_ == nullptr) return HresultFromWin32(win32::ERROR_NOT_SUPPORTED);
    platform::WindowStation* station = StationLocked();
    if (station == nullptr) return HresultFromWin32(win32::ERROR_NOT_READY);
    if (!hooks_) hooks_ = std::make_unique<InputHooks>(*input_, *station);
    return hooks_->Install();
  }

  HRESULT Remove() {
    std::lock_guard lock(mutex_);
    return hooks_ ? hooks_->Remove() : S_OK;
  }

  void Bind(platform::InputSource* source) {
    std::lock_guard lock(mutex_);
    hooks_.reset();  // removes its hooks from the old source
    input_ = source;
  }

  void BindCheck(std::function<bool(std::uint64_t)> isWindow) {
    std::lock_guard lock(mutex_);
    isWindow_ = std::move(isWindow);
  }

  VisitClient Client() {
    std::lock_guard lock(mutex_);
    platform::WindowStation* station = StationLocked();
    if (isWindow_) return VisitClient(station, isWindow_);
    // Unless the host says otherwise, a visit key must name a window of the user's desktop:
    // one of the X display or one of the windows of this user's components.
    return VisitClient(station, [this, station](std::uint64_t w) {
      return w != 0 && (xWindows_.IsWindow(w) || (station != nullptr && station->IsWindow(w)));
    });
  }

 private:
  // Null when the runtime folder cannot be used; callers then act as if no tracer ran.
  platform::WindowStation* StationLocked() {
    if (!station_) {
      std::unique_ptr<platform::WindowStation> station;
      if (Failed(platform::OpenUserWindowStation(clock_, nullptr, station))) return nullptr;
      station_ = std::move(station);
    }
    return station_.get();
  }

  std::mutex mutex_;
  SystemClock clock_;
  std::unique_ptr<platform::WindowStation> station_;
  platform::InputSource* input_ = nullptr;
  std::unique_ptr<InputHooks> hooks_;  // declared after station_: removed before it goes
  std::function<bool(std::uint64_t)> isWindow_;
  XWindowCheck xWindows_;
};

HooksProcess& Process() {
  static HooksProcess process;
  return process;
}

template <typename Call>
std::int32_t Visit(Call call) {
  VisitClient client = Process().Client();
  return call(client);
}

}  // namespace

void BindInputSource(platform::InputSource* source) { Process().Bind(source); }
void BindWindowCheck(std::function<bool(uint64_t)> isWindow) {
  Process().BindCheck(std::move(isWindow));
}

}  // namespace qv::hooks

using qv::hooks::VisitClient;

extern "C" {

int32_t KivInstallInputHooks(void) { return qv::hooks::Process().Install(); }

int32_t KivRemoveInputHooks(void) { return qv::hooks::Process().Remove(); }

int32_t KivIsRunning(void) {
  return qv::hooks::Visit([](VisitClient& c) { return c.IsRunning(); });
}

int32_t KivVisitStart(uint64_t window, const char16_t* item, uint32_t flags) {
  return qv::hooks::Visit([&](VisitClient& c) { return c.Start(window, item, flags); });
}

int32_t KivVisitUpdate(uint64_t window, const char16_t* item, uint32_t flags) {
  return qv::hooks::Visit([&](VisitClient& c) { return c.Update(window, item, flags); });
}

int32_t KivVisitEnd(uint64_t window, const char16_t* item, uint32_t flags) {
  return qv::hooks::Visit([&](VisitClient& c) { return c.End(window, item, flags); });
}

}  // extern "C"
