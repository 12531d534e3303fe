// logind is optional: where it runs the source connects and reports the session's state;
// where it does not (containers, CI), Connect says so instead of failing later. Its signals are
// checked against a stand-in logind on a private bus.
#include "platform/desktop/logind_session.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

extern char** environ;

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

TEST(LogindSessionTest, ConnectsWhereLogindRunsOrSaysItCannot) {
  HRESULT hr = S_OK;
  auto session = LogindSession::Connect(hr);
  if (!session) {
    EXPECT_EQ(hr, HresultFromWin32(win32::ERROR_NOT_SUPPORTED));
    GTEST_SKIP() << "no logind session for this process (no libsystemd, system bus or logind)";
  }
  EXPECT_EQ(hr, S_OK);
  EXPECT_FALSE(session->ScreenSaverRunning());
  const auto id = session->Subscribe([](SessionEvent) {});
  EXPECT_NE(id, 0u);
  session->Unsubscribe(id);
}

// A private message bus, ended with the object.
class PrivateBus {
 public:
  explicit PrivateBus(const std::filesystem::path& socket) {
    if (::access(kDaemon, X_OK) != 0) return;
    address_ = "unix:path=" + socket.string();
    const std::string addressArg = "--address=" + address_;
    const char* argv[] = {kDaemon, "--session", "--nofork", "--nopidfile", addressArg.c_str(),
                          nullptr};
    if (::posix_spawn(&pid_, kDaemon, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = 0;
      return;
    }
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) {
      std::this_thread::sleep_for(25ms);
    }
    ready_ = std::filesystem::exists(socket);
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  bool Ready() const { return ready_; }
  const std::string& address() const { return address_; }

 private:
  static constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
  pid_t pid_ = 0;
  std::string address_;
  bool ready_ = false;
};

// The few sd-bus calls a stand-in logind needs, loaded as the source loads them.
struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;
using Handler = int (*)(sd_bus_message*, void*, void*);

struct FakeLogind {
  static constexpr const char* kSessionPath = "/org/freedesktop/login1/session/_31";

  void* lib = nullptr;
  sd_bus* bus = nullptr;
  sd_bus_slot* slot = nullptr;
  int (*open_system)(sd_bus**) = nullptr;
  sd_bus* (*flush_close_unref)(sd_bus*) = nullptr;
  int (*request_name)(sd_bus*, const char*, std::uint64_t) = nullptr;
  int (*add_object)(sd_bus*, sd_bus_slot**, const char*, Handler, void*) = nullptr;
  int (*is_method_call)(sd_bus_message*, const char*, const char*) = nullptr;
  int (*reply)(sd_bus_message*, const char*, ...) = nullptr;
  int (*process)(sd_bus*, sd_bus_message**) = nullptr;
  int (*wait)(sd_bus*, std::uint64_t) = nullptr;
  int (*emit)(sd_bus*, const char*, const char*, const char*, const char*, ...) = nullptr;
  int (*flush)(sd_bus*) = nullptr;
  sd_bus_slot* (*slot_unref)(sd_bus_slot*) = nullptr;

  template <typename F>
  bool Load(F& f, const char* name) {
    f = reinterpret_cast<F>(::dlsym(lib, name));
    return f != nullptr;
  }
  bool Open() {
    lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    return lib && Load(open_system, "sd_bus_open_system") &&
           Load(flush_close_unref, "sd_bus_flush_close_unref") &&
           Load(request_name, "sd_bus_request_name") && Load(add_object, "sd_bus_add_object") &&
           Load(is_method_call, "sd_bus_message_is_method_call") &&
           Load(reply, "sd_bus_reply_method_return") && Load(process, "sd_bus_process") &&
           Load(wait, "sd_bus_wait") && Load(emit, "sd_bus_emit_signal") &&
           Load(flush, "sd_bus_flush") && Load(slot_unref, "sd_bus_slot_unref") &&
           open_system(&bus) >= 0 && request_name(bus, "org.freedesktop.login1", 0) >= 0 &&
           add_object(bus, &slot, "/org/freedesktop/login1", &OnManager, this) >= 0;
  }
  ~FakeLogind() {
    if (slot) slot_unref(slot);
    if (bus) flush_close_unref(bus);
    if (lib) ::dlclose(lib);
  }
  // GetSessionByPID answers with the one session.
  static int OnManager(sd_bus_message* m, void* self, void*) {
    auto* f = static_cast<FakeLogind*>(self);
    if (!f->is_method_call(m, "org.freedesktop.login1.Manager", "GetSessionByPID")) return 0;
    return f->reply(m, "o", kSessionPath);
  }
  void Emit(const char* path, const char* iface, const char* member, const char* types,
            const char* a = nullptr, const char* b = nullptr, int flag = 0) {
    if (std::string_view(types) == "so") {
      emit(bus, path, iface, member, types, a, b);
    } else if (std::string_view(types) == "b") {
      emit(bus, path, iface, member, types, flag);
    } else {
      emit(bus, path, iface, member, nullptr);
    }
    flush(bus);
  }
};

TEST(LogindSessionTest, SessionRemovedAndShutdownOfThisSessionAreReported) {
  TempDir dir;
  PrivateBus daemon(dir.path() / "bus");
  if (!daemon.Ready()) GTEST_SKIP() << "dbus-daemon is not installed or did not start";
  const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", daemon.address().c_str(), 1);
  struct Restore {
    const std::optional<std::string>& saved;
    ~Restore() {
      if (saved) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved->c_str(), 1);
      else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
  } restore{saved};

  FakeLogind logind;
  if (!logind.Open()) GTEST_SKIP() << "libsystemd could not serve a stand-in logind";
  // The stand-in answers on a thread of its own while the source connects.
  std::atomic<bool> serving{true};
  std::thread server([&] {
    while (serving) {
      while (logind.process(logind.bus, nullptr) > 0) {
      }
      logind.wait(logind.bus, 20'000);
    }
  });
  HRESULT hr = E_FAIL;
  auto session = LogindSession::Connect(hr);
  serving = false;
  server.join();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(hr, S_OK);

  std::mutex mutex;
  std::condition_variable cv;
  std::vector<SessionEvent> events;
  session->Subscribe([&](SessionEvent e) {
    std::lock_guard lock(mutex);
    events.push_back(e);
    cv.notify_all();
  });
  constexpr const char* kManagerPath = "/org/freedesktop/login1";
  constexpr const char* kManager = "org.freedesktop.login1.Manager";
  logind.Emit(FakeLogind::kSessionPath, "org.freedesktop.login1.Session", "Lock", "");
  // Another session's removal and a cancelled shutdown are not this session's end.
  logind.Emit(kManagerPath, kManager, "SessionRemoved", "so", "32",
              "/org/freedesktop/login1/session/_32");
  logind.Emit(kManagerPath, kManager, "PrepareForShutdown", "b", nullptr, nullptr, 0);
  logind.Emit(kManagerPath, kManager, "SessionRemoved", "so", "31", FakeLogind::kSessionPath);
  logind.Emit(kManagerPath, kManager, "PrepareForShutdown", "b", nullptr, nullptr, 1);
  std::unique_lock lock(mutex);
  cv.wait_for(lock, 10s, [&] { return events.size() >= 3; });
  EXPECT_EQ(events, (std::vector<SessionEvent>{SessionEvent::Lock, SessionEvent::SessionEnd,
                                               SessionEvent::SystemShutdown}));
  EXPECT_TRUE(session->Locked());
}

}  // namespace
}  // namespace qv::platform
