#include "platform/desktop/logind_session.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace qv::platform {

namespace {

// The few sd-bus entry points used, declared as libsystemd exports them (its headers need not
// be installed).
struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;
struct sd_bus_error {
  const char* name;
  const char* message;
  int need_free;
};
using Handler = int (*)(sd_bus_message*, void*, sd_bus_error*);

constexpr const char* kLibrary = "libsystemd.so.0";
constexpr const char* kLogin1 = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";

}  // namespace

struct LogindSession::Bus {
  void* lib = nullptr;
  sd_bus* bus = nullptr;
  std::vector<sd_bus_slot*> slots;
  std::string sessionPath;
  LogindSession* owner = nullptr;

  int (*open_system)(sd_bus**) = nullptr;
  sd_bus* (*flush_close_unref)(sd_bus*) = nullptr;
  int (*call_method)(sd_bus*, const char*, const char*, const char*, const char*, sd_bus_error*,
                     sd_bus_message**, const char*, ...) = nullptr;
  int (*message_read)(sd_bus_message*, const char*, ...) = nullptr;
  sd_bus_message* (*message_unref)(sd_bus_message*) = nullptr;
  int (*match_signal)(sd_bus*, sd_bus_slot**, const char*, const char*, const char*, const char*,
                      Handler, void*) = nullptr;
  sd_bus_slot* (*slot_unref)(sd_bus_slot*) = nullptr;
  int (*process)(sd_bus*, sd_bus_message**) = nullptr;
  int (*get_fd)(sd_bus*) = nullptr;
  int (*get_property_trivial)(sd_bus*, const char*, const char*, const char*, const char*,
                              sd_bus_error*, char, void*) = nullptr;
  void (*error_free)(sd_bus_error*) = nullptr;
  // sd-login: the user's graphical session; optional, older libraries may lack it.
  int (*uid_get_display)(uid_t, char**) = nullptr;

  ~Bus() {
    for (sd_bus_slot* s : slots) slot_unref(s);
    if (bus) flush_close_unref(bus);
    if (lib) ::dlclose(lib);
  }

  template <typename F>
  bool Load(F& f, const char* name) {
    f = reinterpret_cast<F>(::dlsym(lib, name));
    return f != nullptr;
  }

  bool LoadAll() {
    lib = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    const bool required = lib && Load(open_system, "sd_bus_open_system") &&
           Load(flush_close_unref, "sd_bus_flush_close_unref") &&
           Load(call_method, "sd_bus_call_method") && Load(message_read, "sd_bus_message_read") &&
           Load(message_unref, "sd_bus_message_unref") &&
           Load(match_signal, "sd_bus_match_signal") && Load(slot_unref, "sd_bus_slot_unref") &&
           Load(process, "sd_bus_process") && Load(get_fd, "sd_bus_get_fd") &&
           Load(get_property_trivial, "sd_bus_get_property_trivial") &&
           Load(error_free, "sd_bus_error_free");
    if (required) Load(uid_get_display, "sd_uid_get_display");
    return required;
  }

  // The object path a manager method answers with; false when it fails.
  template <typename... Args>
  bool SessionPathFrom(const char* method, const char* signature, Args... args) {
    sd_bus_error err{nullptr, nullptr, 0};
    sd_bus_message* reply = nullptr;
    const int r = call_method(bus, kLogin1, kManagerPath, kManager, method, &err, &reply,
                              signature, args...);
    error_free(&err);
    if (r < 0 || !reply) return false;
    const char* path = nullptr;
    const bool ok = message_read(reply, "o", &path) >= 0 && path;
    if (ok) sessionPath = path;
    message_unref(reply);
    return ok;
  }

  // The session to follow: this process's own when it runs inside one; else, as for a
  // tracer started by a systemd user unit (which belongs to no session), the user's
  // graphical session.
  bool FindSession() {
    if (SessionPathFrom("GetSessionByPID", "u", static_cast<std::uint32_t>(::getpid()))) {
      return true;
    }
    if (!uid_get_display) return false;
    char* id = nullptr;
    if (uid_get_display(::getuid(), &id) < 0 || id == nullptr) return false;
    const std::string session(id);
    std::free(id);
    return SessionPathFrom("GetSession", "s", session.c_str());
  }

  static int OnLock(sd_bus_message*, void* self, sd_bus_error*) {
    static_cast<Bus*>(self)->owner->Deliver(SessionEvent::Lock);
    return 0;
  }
  static int OnUnlock(sd_bus_message*, void* self, sd_bus_error*) {
    static_cast<Bus*>(self)->owner->Deliver(SessionEvent::Unlock);
    return 0;
  }
  // SessionRemoved(s id, o path): only this session's removal ends it.
  static int OnSessionRemoved(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* b = static_cast<Bus*>(self);
    const char* id = nullptr;
    const char* path = nullptr;
    if (b->message_read(m, "so", &id, &path) >= 0 && path && b->sessionPath == path) {
      b->owner->Deliver(SessionEvent::SessionEnd);
    }
    return 0;
  }
  // PrepareForShutdown(b start): true before the machine goes down, false if that was cancelled.
  static int OnShutdown(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* b = static_cast<Bus*>(self);
    int start = 0;
    if (b->message_read(m, "b", &start) >= 0 && start) {
      b->owner->Deliver(SessionEvent::SystemShutdown);
    }
    return 0;
  }
  static int OnSleep(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* b = static_cast<Bus*>(self);
    int start = 0;
    if (b->message_read(m, "b", &start) >= 0) {
      b->owner->Deliver(start ? SessionEvent::Suspend : SessionEvent::Resume);
    }
    return 0;
  }
};

std::unique_ptr<LogindSession> LogindSession::Connect(HRESULT& hr) {
  hr = HresultFromWin32(win32::ERROR_NOT_SUPPORTED);
  auto bus = std::make_unique<Bus>();
  if (!bus->LoadAll() || bus->open_system(&bus->bus) < 0 || !bus->FindSession()) return nullptr;
  const char* path = bus->sessionPath.c_str();
  struct Match {
    const char* path;
    const char* iface;
    const char* member;
    Handler handler;
  } matches[] = {{path, kSession, "Lock", &Bus::OnLock},
                 {path, kSession, "Unlock", &Bus::OnUnlock},
                 {kManagerPath, kManager, "PrepareForSleep", &Bus::OnSleep},
                 {kManagerPath, kManager, "SessionRemoved", &Bus::OnSessionRemoved},
                 {kManagerPath, kManager, "PrepareForShutdown", &Bus::OnShutdown}};
  for (const Match& m : matches) {
    sd_bus_slot* slot = nullptr;
    if (bus->match_signal(bus->bus, &slot, kLogin1, m.path, m.iface, m.member, m.handler,
                          bus.get()) < 0) {
      return nullptr;
    }
    bus->slots.push_back(slot);
  }
  hr = S_OK;
  return std::unique_ptr<LogindSession>(new LogindSession(std::move(bus)));
}

LogindSession::LogindSession(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {
  bus_->owner = this;
  sd_bus_error err{nullptr, nullptr, 0};
  int hint = 0;
  if (bus_->get_property_trivial(bus_->bus, kLogin1, bus_->sessionPath.c_str(), kSession,
                                 "LockedHint", &err, 'b', &hint) >= 0) {
    locked_ = hint != 0;
  }
  bus_->error_free(&err);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { Loop(); });
}

LogindSession::~LogindSession() {
  stop_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void LogindSession::Loop() {
  while (!stop_) {
    const int r = bus_->process(bus_->bus, nullptr);
    if (r < 0) return;  // the bus went away: no more notices
    if (r > 0) continue;
    pollfd fds[2] = {{bus_->get_fd(bus_->bus), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
  }
}

void LogindSession::Deliver(SessionEvent event) {
  if (event == SessionEvent::Lock) locked_ = true;
  if (event == SessionEvent::Unlock) locked_ = false;
  listeners_.Deliver(event);
}

SessionSignals::ListenerId LogindSession::Subscribe(Listener listener) {
  return listeners_.Subscribe(std::move(listener));
}

void LogindSession::Unsubscribe(ListenerId id) { listeners_.Unsubscribe(id); }

}  // namespace qv::platform
