#pragma once
// What the system's classes need from their host process: the installation root, the
// registry, the event log, the clock, the class registry and the user's name. Passed by
// reference to every class instead of global state, so tests give each case its own.
#include <filesystem>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/com/class_registry.h"
#include "platform/eventlog/event_log.h"
#include "platform/registry/registry.h"

namespace qv {

struct Context {
  std::filesystem::path root;
  platform::Registry& registry;
  const platform::EventLog& eventLog;
  const Clock& clock;
  platform::ClassRegistry& classes;
  // The user's name in the form DOMAIN\user (host\login on Linux).
  std::function<HRESULT(std::string&)> userName;
};

// The logged-on user as host\login; an empty login gives an empty name.
HRESULT SystemUserName(std::string& out);

// Written when QV_ROOT let group or others in and was narrowed to the user alone; the
// insertion string is the root.
inline constexpr std::uint32_t kEventRootNarrowed = 0x80000072;

// Makes the root the user's alone: created 0700, or narrowed to 0700 with a warning event when
// it let others in. A root that is not a folder, or not the user's, fails (E_ACCESSDENIED for
// another user's), and nothing is changed.
HRESULT PreparePrivateRoot(const std::filesystem::path& root, const platform::EventLog& eventLog);

// A whole set of real services on one root: what a program builds at start. The root is
// prepared as above; a failure shows when the stores are used.
class Installation {
 public:
  explicit Installation(std::filesystem::path root,
                        std::unique_ptr<Clock> clock = std::make_unique<SystemClock>());
  Context& context() { return context_; }
  platform::ClassRegistry& classes() { return classes_; }

 private:
  std::unique_ptr<Clock> clock_;
  platform::Registry registry_;
  platform::EventLog eventLog_;
  platform::ClassRegistry classes_;
  Context context_;
};

}  // namespace qv
