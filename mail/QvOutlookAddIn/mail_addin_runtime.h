#pragma once
// The mail add-in assembled: one tracked-store record (and shortcut folder) per store the mail
// client has open, the ranking object over them published in the session's running object
// table, a mail scope registered with the proxy for each shortcut folder, the stores' walks
// run while the client is idle, and the reading-pane and inspector visits.
//
// Everything runs on the mail client's main thread. The published object is served on the
// table's own threads, so each remote call is handed to the main thread through `post` and
// waited for at most `callLimit`.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "mail/QvOutlookAddIn/addin.h"
#include "mail/QvOutlookAddIn/msg_store.h"
#include "mail/QvOutlookAddIn/otl_ranking_object.h"
#include "mail/ranking_endpoint.h"
#include "platform/com/running_objects.h"
#include "platform/mail/mail_client.h"

namespace qv::mail::addin {

// Where the shortcut folders of the user's mail stores live: the mail catalogs' scope root.
// A store's folder is the root plus its number in hexadecimal, the name the mail catalog of
// that store is given.
std::filesystem::path MailScopeRoot(const Context& ctx);
std::filesystem::path StoreShortcutFolder(const std::filesystem::path& scopeRoot,
                                          std::span<const std::uint8_t> storeEntryId);

// The proxy's scope calls, however the proxy is reached (its program or an object in this
// process).
struct ScopeRegistrar {
  std::function<HRESULT(std::string_view directory, std::uint32_t* cookie)> addScope;
  std::function<HRESULT(std::uint32_t cookie)> removeScope;
};

// What the visits need beyond the client: the client's window station and main loop and the
// bound visit interface. Without it the add-in keeps ranking data only.
struct VisitHost {
  platform::WindowStation& station;
  platform::MessageLoop& loop;
  VisitBinding binding;
  AddInOptions options;
};

struct MailAddInOptions {
  std::filesystem::path scopeRoot;  // empty: MailScopeRoot(ctx)
  std::string logonId;              // empty: LogonSessionId()
  std::string userAddress;          // the user's own address ("sent by me")
  std::chrono::milliseconds resyncPeriod = kDefaultResyncPeriod;
  // How many items one idle step of a walk handles.
  std::size_t idleBudget = 64;
  // How long a remote call waits for the main thread.
  std::chrono::milliseconds callLimit = kDefaultOtlCallLimit;
};

class MailAddInRuntime {
 public:
  using Post = std::function<void(std::function<void()>)>;

  MailAddInRuntime(const Context& ctx, platform::mail::MailClient& client,
                   std::shared_ptr<const platform::RunningObjects> table, Post post,
                   ScopeRegistrar proxy, MailAddInOptions options,
                   std::optional<VisitHost> visits = std::nullopt);
  ~MailAddInRuntime();  // withdraws the object and the scopes, disconnects the visits
  MailAddInRuntime(const MailAddInRuntime&) = delete;
  MailAddInRuntime& operator=(const MailAddInRuntime&) = delete;

  // Tracks every store, publishes the object, registers the scopes, connects the visits.
  // A store or scope that fails is reported and the rest go on; the object's publication
  // failing is returned. A second call does nothing (S_FALSE).
  HRESULT Start();
  // One idle step of each due walk of each store: true while some walk has more to do.
  bool OnIdle();
  // Idle steps until every walk is done (bounded by `maxSteps`).
  void RunWalks(std::size_t maxSteps = 10000);

  const std::vector<std::unique_ptr<KivMsgStore>>& stores() const { return stores_; }
  OtlRankingObject* rankingObject() const { return object_.get(); }
  OutlookAddIn* visits() const { return addIn_.get(); }
  const std::filesystem::path& scopeRoot() const { return options_.scopeRoot; }

 private:
  class MainThreadRanking;

  const Context& ctx_;
  platform::mail::MailClient& client_;
  std::shared_ptr<const platform::RunningObjects> table_;
  Post post_;
  ScopeRegistrar proxy_;
  MailAddInOptions options_;
  std::vector<std::unique_ptr<KivMsgStore>> stores_;
  std::shared_ptr<OtlRankingObject> object_;
  std::shared_ptr<MainThreadRanking> served_;
  std::unique_ptr<platform::Registration> registration_;
  std::vector<std::uint32_t> cookies_;
  std::unique_ptr<OutlookAddIn> addIn_;
};

}  // namespace qv::mail::addin
