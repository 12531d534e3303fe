#pragma once
// A complete Context on a temporary root with a manual clock, for tests.
#include <memory>
#include <string>

#include "context/context.h"
#include "common/temp_dir.h"

namespace qv {

class TestContext {
 public:
  explicit TestContext(std::string userName = "TESTHOST\\tester")
      : clock_(*DateToFileTime(46000.5)),  // 2025-12-09T12:00:00Z
        registry_(dir_.path()),
        eventLog_(dir_.path(), clock_),
        ctx_{dir_.path(), registry_, eventLog_, clock_, classes_,
             [this](std::string& out) {
               out = userName_;
               return userNameResult_;
             }},
        userName_(std::move(userName)) {}

  Context& ctx() { return ctx_; }
  ManualClock& clock() { return clock_; }
  platform::Registry& registry() { return registry_; }
  const platform::EventLog& eventLog() const { return eventLog_; }
  platform::ClassRegistry& classes() { return classes_; }
  const std::filesystem::path& root() const { return dir_.path(); }
  void SetUserName(std::string name, HRESULT result = S_OK) {
    userName_ = std::move(name);
    userNameResult_ = result;
  }
  // Event identifiers in the log, oldest first.
  std::vector<std::uint32_t> EventIds() const {
    std::vector<std::uint32_t> ids;
    for (const auto& e : eventLog_.ReadAll()) ids.push_back(e.eventId);
    return ids;
  }

 private:
  TempDir dir_;
  ManualClock clock_;
  platform::Registry registry_;
  platform::EventLog eventLog_;
  platform::ClassRegistry classes_;
  Context ctx_;
  std::string userName_;
  HRESULT userNameResult_ = S_OK;
};

}  // namespace qv
