#pragma once
// The mail proxy's object: carries the e-mail filter's requests to the add-in's ranking
// object inside the mail client, and serves itself in the session's running object table
// under one name per mail scope ("!Qv.OtlIndexing." plus the store's shortcut folder).
//
// Every forwarded call waits for the add-in at most the call limit (then it is cancelled and
// gives E_ABORT); a watchdog cancels one still running at its own limit. Cancelled calls are
// counted: from the third in a row on, callers hear "not available" until a call succeeds.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "context/context.h"
#include "mail/QvOutlookProxy/proxy_constants.h"
#include "mail/ranking_endpoint.h"
#include "platform/com/running_objects.h"
#include "provider/filters/email_filter.h"
#include "provider/filters/mail_proxy_client.h"

namespace qv::mail {

struct ProxyOptions {
  std::chrono::milliseconds callLimit = kAddInCallLimit;
  std::chrono::milliseconds watchdogLimit = kWatchdogLimit;
};

// Cancels the call it watches once its limit has passed. The thread waits on a condition,
// never sleeps, and is stopped and joined with the object.
class Watchdog {
 public:
  explicit Watchdog(const Clock& clock);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  void Arm(std::stop_source call, std::chrono::milliseconds limit);
  void Disarm();

 private:
  void Run(std::stop_token stop);

  const Clock& clock_;
  std::mutex mutex_;
  std::condition_variable_any cv_;
  std::optional<std::stop_source> call_;
  std::chrono::nanoseconds deadline_{0};
  std::jthread thread_;  // last: started once the rest is ready
};

// The proxy's interface: the e-mail filter's calls and the scope registrations.
class IKivCIProxy : public filters::IOtlIndexing {
 public:
  // E_INVALIDARG for an empty directory or no cookie.
  virtual HRESULT AddScope(std::string_view directory, std::uint32_t* cookie) = 0;
  // S_FALSE for cookie 0; E_INVALIDARG for a cookie this object did not give.
  virtual HRESULT RemoveScope(std::uint32_t cookie) = 0;
};

class OutlookProxy final : public IKivCIProxy {
 public:
  OutlookProxy(const Context& ctx, std::shared_ptr<const platform::RunningObjects> table,
               std::string logonId, ProxyOptions options = {});
  ~OutlookProxy() override;
  OutlookProxy(const OutlookProxy&) = delete;
  OutlookProxy& operator=(const OutlookProxy&) = delete;

  HRESULT AddScope(std::string_view directory, std::uint32_t* cookie) override;
  HRESULT RemoveScope(std::uint32_t cookie) override;
  // `currentScope`, when given, receives the user's scope number; the rest comes from the
  // add-in's read entry. `cancel` is the caller giving up.
  HRESULT GetItemData(std::string_view item, std::uint32_t* currentScope, OtlItemValues& out,
                      std::stop_token cancel = {});
  HRESULT GetMsgFile(std::string_view item, std::string_view section, std::uint32_t size,
                     std::string_view prefix, std::string& files, std::string& text,
                     std::uint32_t& kind, std::stop_token cancel = {});

  // The e-mail filter's view of the same calls.
  HRESULT GetItemData(const std::string& item, filters::OtlItemData& out) override;
  HRESULT GetMsgFile(const std::string& item, const std::string& mmfName, std::uint32_t mmfSize,
                     const std::string& prefix, std::string* files, std::string* text,
                     std::uint32_t* kind) override;

  // A remote call on any of this object's names.
  HRESULT Dispatch(const platform::CallRequest& call, std::vector<platform::CallArg>& out,
                   std::stop_token cancel);

  std::size_t scopeCount() const;
  std::uint32_t consecutiveCancels() const;
  // How long the object has had no scope and no call in progress; zero while it has.
  std::chrono::nanoseconds IdleFor() const;

 private:
  // Runs one call on the add-in with the limit, the watchdog and the cancellation count.
  template <class Call>
  HRESULT Forward(std::stop_token cancel, Call&& call);
  void Touch(int delta);

  const Context& ctx_;
  std::shared_ptr<const platform::RunningObjects> table_;
  std::string logonId_;
  ProxyOptions options_;
  mutable std::mutex forwardMutex_;  // one forwarded call at a time, as on the mail client's thread
  std::uint32_t cancels_ = 0;
  mutable std::mutex stateMutex_;
  std::map<std::uint32_t, std::unique_ptr<platform::Registration>> scopes_;
  // Removed scopes, withdrawn at once but destroyed with the object: a scope may be removed
  // by a call that one of its own threads serves.
  std::vector<std::unique_ptr<platform::Registration>> retired_;
  std::uint32_t nextCookie_ = 1;
  int busy_ = 0;
  std::chrono::nanoseconds idleSince_{0};
  Watchdog watchdog_;
};

// The proxy program's object, reached through its class object in the session's table.
class RemoteCIProxy final : public IKivCIProxy {
 public:
  RemoteCIProxy(std::shared_ptr<const platform::RunningObjects> table, const Clock& clock)
      : table_(table), clock_(clock), calls_(table, std::string(kProxyClassObjectName), clock) {}
  HRESULT AddScope(std::string_view directory, std::uint32_t* cookie) override;
  HRESULT RemoveScope(std::uint32_t cookie) override;
  HRESULT GetItemData(const std::string& item, filters::OtlItemData& out) override {
    return calls_.GetItemData(item, out);
  }
  HRESULT GetMsgFile(const std::string& item, const std::string& mmfName, std::uint32_t mmfSize,
                     const std::string& prefix, std::string* files, std::string* text,
                     std::uint32_t* kind) override {
    return calls_.GetMsgFile(item, mmfName, mmfSize, prefix, files, text, kind);
  }

 private:
  std::shared_ptr<const platform::RunningObjects> table_;
  const Clock& clock_;
  filters::RemoteOtlIndexing calls_;
};

}  // namespace qv::mail
