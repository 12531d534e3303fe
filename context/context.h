#pragma once
// What the system's classes need from their host process: the installation root, the
// registry, the event log, the clock, the class registry and the user's name. Passed by
// reference to every class instead of global state, so tests give each case its own.
#include <filesystem>
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

// A whole set of real services on one root: what a program builds at start.
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
