#include "mail/QvOutlookAddIn/mail_addin_runtime.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/folders/folders.h"

namespace qv::mail::addin {

std::filesystem::path MailScopeRoot(const Context& ctx) {
  return platform::KnownFolderPath(ctx.root, platform::KnownFolder::LocalAppData) / "Quillon" /
         "Vesper" / "EMail";
}

std::filesystem::path StoreShortcutFolder(const std::filesystem::path& scopeRoot,
                                          std::span<const std::uint8_t> storeEntryId) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", StoreNumber(storeEntryId));
  return scopeRoot / hex;
}

// The ranking object as the table's threads see it: each call is handed to the client's main
// thread and waited for, at most the limit. The call's values live in the job, not in the
// caller's frame, so a call that outlives its waiter writes nowhere it should not.
class MailAddInRuntime::MainThreadRanking final : public OtlRanking {
 public:
  MainThreadRanking(std::weak_ptr<OtlRankingObject> object, Post post,
                    std::chrono::milliseconds limit)
      : object_(std::move(object)), post_(std::move(post)), limit_(limit) {}

  HRESULT ReadItem(std::string_view itemId, OtlItemValues& out) override {
    auto values = std::make_shared<OtlItemValues>();
    const HRESULT hr = Run([id = std::string(itemId), values](OtlRankingObject& o) {
      return o.ReadItem(id, *values);
    });
    if (Succeeded(hr)) out = *values;
    return hr;
  }
  HRESULT WriteItem(std::string_view itemId, const ranking::RankingSet& set) override {
    return Run([id = std::string(itemId), set](OtlRankingObject& o) {
      return o.WriteItem(id, set);
    });
  }
  HRESULT GetMsgFile(std::string_view itemId, std::string_view sectionName,
                     std::uint32_t sectionSize, std::string_view prefix, std::string& files,
                     std::string& text, std::uint32_t& kind) override {
    struct Out {
      std::string files, text;
      std::uint32_t kind = 0;
    };
    auto out = std::make_shared<Out>();
    const HRESULT hr =
        Run([id = std::string(itemId), section = std::string(sectionName), sectionSize,
             pre = std::string(prefix), out](OtlRankingObject& o) {
          return o.GetMsgFile(id, section, sectionSize, pre, out->files, out->text, out->kind);
        });
    if (Succeeded(hr)) {
      files = out->files;
      text = out->text;
      kind = out->kind;
    }
    return hr;
  }

  // No call waits any more, and none is started.
  void Close() {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->cv.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    bool closed = false;
  };
  struct Job {
    bool done = false;
    HRESULT hr = E_ABORT;
  };

  HRESULT Run(std::function<HRESULT(OtlRankingObject&)> call) {
    auto job = std::make_shared<Job>();
    {
      std::lock_guard lock(state_->mutex);
      if (state_->closed) return E_ABORT;
    }
    post_([state = state_, object = object_, job, call = std::move(call)] {
      HRESULT hr = E_ABORT;
      if (auto o = object.lock()) hr = call(*o);
      std::lock_guard lock(state->mutex);
      job->hr = hr;
      job->done = true;
      state->cv.notify_all();
    });
    std::unique_lock lock(state_->mutex);
    if (!state_->cv.wait_for(lock, limit_, [&] { return job->done || state_->closed; })) {
      return E_ABORT;
    }
    return job->done ? job->hr : E_ABORT;
  }

  std::weak_ptr<OtlRankingObject> object_;
  Post post_;
  std::chrono::milliseconds limit_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

MailAddInRuntime::MailAddInRuntime(const Context& ctx, platform::mail::MailClient& client,
                                   std::shared_ptr<const platform::RunningObjects> table,
                                   Post post, ScopeRegistrar proxy, MailAddInOptions options,
                                   std::optional<VisitHost> visits)
    : ctx_(ctx),
      client_(client),
      table_(std::move(table)),
      post_(std::move(post)),
      proxy_(std::move(proxy)),
      options_(std::move(options)) {
  if (options_.scopeRoot.empty()) options_.scopeRoot = MailScopeRoot(ctx_);
  if (options_.logonId.empty()) options_.logonId = LogonSessionId();
  if (visits) {
    addIn_ = std::make_unique<OutlookAddIn>(ctx_, client_, visits->station, visits->loop,
                                            std::move(visits->binding),
                                            std::move(visits->options));
  }
}

MailAddInRuntime::~MailAddInRuntime() {
  if (addIn_) addIn_->Disconnect();
  // Callers waiting on the main thread are released before the name goes, so the
  // registration's joins do not wait out their limits.
  if (served_) served_->Close();
  registration_.reset();
  for (const std::uint32_t cookie : cookies_) {
    if (proxy_.removeScope) proxy_.removeScope(cookie);
  }
}

HRESULT MailAddInRuntime::Start() {
  if (object_) return S_FALSE;  // started already: the stores and scopes are in hand
  std::vector<platform::mail::MessageStore*> session = client_.Stores();
  std::vector<KivMsgStore*> tracked;
  for (platform::mail::MessageStore* store : session) {
    const auto folder = StoreShortcutFolder(options_.scopeRoot, store->storeEntryId());
    auto record = std::make_unique<KivMsgStore>(ctx_, *store, folder, options_.resyncPeriod);
    if (const HRESULT hr = record->OnConnection(); Failed(hr)) {
      ReportItemError(ctx_, kCategoryAddIn, kEventProviderError, store->displayName(), hr);
    }
    tracked.push_back(record.get());
    stores_.push_back(std::move(record));
  }
  object_ = std::make_shared<OtlRankingObject>(ctx_, session, tracked, options_.userAddress);
  served_ = std::make_shared<MainThreadRanking>(object_, post_, options_.callLimit);
  const HRESULT published =
      PublishOtlRanking(*table_, options_.logonId, served_, registration_);

  // The proxy's scope is the shortcut folder itself: the e-mail filter looks an item's scope
  // up by that folder.
  for (const auto& store : stores_) {
    if (!proxy_.addScope) break;
    std::uint32_t cookie = 0;
    const HRESULT hr = proxy_.addScope(store->directory().string(), &cookie);
    if (Succeeded(hr)) {
      cookies_.push_back(cookie);
    } else {
      ReportItemError(ctx_, kCategoryAddIn, kEventProviderError, store->directory().string(),
                      hr);
    }
  }
  if (addIn_) addIn_->Connect();
  return published;
}

bool MailAddInRuntime::OnIdle() {
  bool more = false;
  for (const auto& store : stores_) {
    if (store->dirSyncDue() && store->OnIdleDir(options_.idleBudget) == S_FALSE) more = true;
    if (store->storeSyncDue() && store->OnIdlePST(options_.idleBudget) == S_FALSE) more = true;
  }
  return more;
}

void MailAddInRuntime::RunWalks(std::size_t maxSteps) {
  for (std::size_t i = 0; i < maxSteps && OnIdle(); ++i) {
  }
}

}  // namespace qv::mail::addin
