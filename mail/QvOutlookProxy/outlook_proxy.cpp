#include "mail/QvOutlookProxy/outlook_proxy.h"

#include "provider/ranking/base_activation.h"

namespace qv::mail {
namespace {

using platform::CallArg;
using platform::CallRequest;
using OptString = std::optional<std::string>;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const HRESULT kBadCall = HresultFromWin32(win32::ERROR_INVALID_DATA);

const OptString* StrArg(const CallRequest& c, std::size_t i) {
  return i < c.args.size() ? std::get_if<OptString>(&c.args[i]) : nullptr;
}
const std::uint32_t* UlongArg(const CallRequest& c, std::size_t i) {
  return i < c.args.size() ? std::get_if<std::uint32_t>(&c.args[i]) : nullptr;
}

filters::OtlItemData ToFilterData(OtlItemValues&& v) {
  filters::OtlItemData d;
  d.flags = v.state;
  d.pst = v.pst;
  d.searchKey = std::move(v.searchKey);
  d.set = v.set;
  d.parentFolder = std::move(v.parentFolder);
  d.prefix = std::move(v.prefix);
  d.subject = std::move(v.subject);
  d.to = std::move(v.to);
  d.from = std::move(v.from);
  d.cc = std::move(v.cc);
  d.bcc = std::move(v.bcc);
  d.itemType = std::move(v.itemType);
  d.messageFlags = v.messageFlags;
  d.date1 = v.date1;
  d.date2 = v.date2;
  return d;
}

}  // namespace

// --- watchdog ---

Watchdog::Watchdog(const Clock& clock) : clock_(clock) {
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

Watchdog::~Watchdog() {
  // Stopped cooperatively: the stop request wakes the wait, and the thread is joined.
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void Watchdog::Arm(std::stop_source call, milliseconds limit) {
  std::lock_guard lock(mutex_);
  call_ = std::move(call);
  deadline_ = clock_.Monotonic() + limit;
  cv_.notify_all();
}

void Watchdog::Disarm() {
  std::lock_guard lock(mutex_);
  call_.reset();
  cv_.notify_all();
}

void Watchdog::Run(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    if (!call_) {
      cv_.wait(lock, stop, [&] { return call_.has_value(); });
      continue;
    }
    const nanoseconds left = deadline_ - clock_.Monotonic();
    bool woken = false;
    if (left > nanoseconds(0)) {
      const auto armed = deadline_;
      woken = cv_.wait_for(lock, stop, std::chrono::ceil<milliseconds>(left),
                           [&] { return !call_ || deadline_ != armed; });
    }
    if (stop.stop_requested()) break;
    // A wait that ran its whole course is the deadline, so a clock that stands still cannot
    // keep a hung call alive.
    if (!woken && call_) {
      call_->request_stop();  // the outgoing call gives up without waiting
      call_.reset();
    }
  }
}

// --- the object ---

OutlookProxy::OutlookProxy(const Context& ctx,
                           std::shared_ptr<const platform::RunningObjects> table,
                           std::string logonId, ProxyOptions options)
    : ctx_(ctx),
      table_(std::move(table)),
      logonId_(std::move(logonId)),
      options_(options),
      idleSince_(ctx.clock.Monotonic()),
      watchdog_(ctx.clock) {}

OutlookProxy::~OutlookProxy() {
  // The names go first, and the registrations (whose threads call into this object) are
  // destroyed before anything they use.
  std::map<std::uint32_t, std::unique_ptr<platform::Registration>> scopes;
  std::vector<std::unique_ptr<platform::Registration>> retired;
  {
    std::lock_guard lock(stateMutex_);
    scopes.swap(scopes_);
    retired.swap(retired_);
  }
  scopes.clear();
  retired.clear();
}

void OutlookProxy::Touch(int delta) {
  std::lock_guard lock(stateMutex_);
  busy_ += delta;
  if (busy_ == 0 && scopes_.empty()) idleSince_ = ctx_.clock.Monotonic();
}

std::chrono::nanoseconds OutlookProxy::IdleFor() const {
  std::lock_guard lock(stateMutex_);
  if (busy_ != 0 || !scopes_.empty()) return nanoseconds(0);
  return ctx_.clock.Monotonic() - idleSince_;
}

std::size_t OutlookProxy::scopeCount() const {
  std::lock_guard lock(stateMutex_);
  return scopes_.size();
}

std::uint32_t OutlookProxy::consecutiveCancels() const {
  std::lock_guard lock(forwardMutex_);
  return cancels_;
}

HRESULT OutlookProxy::AddScope(std::string_view directory, std::uint32_t* cookie) {
  while (directory.size() > 1 && directory.back() == '/') directory.remove_suffix(1);
  if (directory.empty() || !cookie) return E_INVALIDARG;
  std::unique_ptr<platform::Registration> reg;
  const HRESULT hr = table_->Register(
      std::string(kOtlIndexingPrefix) + std::string(directory),
      [this](const CallRequest& call, std::vector<CallArg>& out, std::stop_token cancel) {
        return Dispatch(call, out, cancel);
      },
      reg);
  if (Failed(hr)) return hr;
  std::lock_guard lock(stateMutex_);
  const std::uint32_t id = nextCookie_++;
  scopes_.emplace(id, std::move(reg));
  *cookie = id;
  return S_OK;
}

HRESULT OutlookProxy::RemoveScope(std::uint32_t cookie) {
  if (cookie == 0) return S_FALSE;
  std::lock_guard lock(stateMutex_);
  auto it = scopes_.find(cookie);
  if (it == scopes_.end()) return E_INVALIDARG;
  it->second->Withdraw();
  retired_.push_back(std::move(it->second));
  scopes_.erase(it);
  if (scopes_.empty() && busy_ == 0) idleSince_ = ctx_.clock.Monotonic();
  return S_OK;
}

template <class Call>
HRESULT OutlookProxy::Forward(std::stop_token cancel, Call&& call) {
  const std::string name = OtlRankingName(logonId_);
  // The mail client not running is answered at once, without a wait.
  if (!table_->IsRunning(name)) return platform::MK_E_UNAVAILABLE;
  std::lock_guard lock(forwardMutex_);
  RemoteOtlRanking ranking(table_, name, ctx_.clock, options_.callLimit);
  std::stop_source source;
  // A caller that gives up cancels the outgoing call, as the watchdog does.
  std::stop_callback onCancel(cancel, [&] { source.request_stop(); });
  watchdog_.Arm(source, options_.watchdogLimit);
  HRESULT hr = call(ranking, source.get_token());
  watchdog_.Disarm();
  if (Succeeded(hr)) {
    cancels_ = 0;
  } else if (hr == platform::RPC_E_CALL_CANCELED) {
    if (cancels_ > 1) return platform::MK_E_UNAVAILABLE;
    ++cancels_;
  }
  return hr;
}

HRESULT OutlookProxy::GetItemData(std::string_view item, std::uint32_t* currentScope,
                                  OtlItemValues& out, std::stop_token cancel) {
  if (currentScope) {
    ULONG scope = 0;
    if (const HRESULT hr = BaseActivation(ctx_).ComputeScope(scope); Failed(hr)) return hr;
    *currentScope = scope;
  }
  return Forward(cancel, [&](RemoteOtlRanking& r, std::stop_token stop) {
    return r.ReadItem(item, out, stop);
  });
}

HRESULT OutlookProxy::GetMsgFile(std::string_view item, std::string_view section,
                                 std::uint32_t size, std::string_view prefix,
                                 std::string& files, std::string& text, std::uint32_t& kind,
                                 std::stop_token cancel) {
  return Forward(cancel, [&](RemoteOtlRanking& r, std::stop_token stop) {
    return r.GetMsgFile(item, section, size, prefix, files, text, kind, stop);
  });
}

HRESULT OutlookProxy::GetItemData(const std::string& item, filters::OtlItemData& out) {
  OtlItemValues v;
  const HRESULT hr = GetItemData(item, nullptr, v);
  if (Succeeded(hr)) out = ToFilterData(std::move(v));
  return hr;
}

HRESULT OutlookProxy::GetMsgFile(const std::string& item, const std::string& mmfName,
                                 std::uint32_t mmfSize, const std::string& prefix,
                                 std::string* files, std::string* text, std::uint32_t* kind) {
  std::string f, t;
  std::uint32_t k = 0;
  const HRESULT hr = GetMsgFile(item, mmfName, mmfSize, prefix, f, t, k);
  if (Succeeded(hr)) {
    if (files) *files = std::move(f);
    if (text) *text = std::move(t);
    if (kind) *kind = k;
  }
  return hr;
}

HRESULT OutlookProxy::Dispatch(const CallRequest& call, std::vector<CallArg>& out,
                               std::stop_token cancel) {
  Touch(+1);
  struct Done {
    OutlookProxy* self;
    ~Done() { self->Touch(-1); }
  } done{this};
  const std::size_t n = call.args.size();
  switch (static_cast<filters::ProxyMethod>(call.method)) {
    case filters::ProxyMethod::AddScope: {
      const OptString* dir = StrArg(call, 0);
      if (n != 1 || !dir) return kBadCall;
      std::uint32_t cookie = 0;
      const HRESULT hr = AddScope(dir->value_or(std::string()), &cookie);
      if (Succeeded(hr)) out = {cookie};
      return hr;
    }
    case filters::ProxyMethod::RemoveScope: {
      const std::uint32_t* cookie = UlongArg(call, 0);
      if (n != 1 || !cookie) return kBadCall;
      return RemoveScope(*cookie);
    }
    case filters::ProxyMethod::GetItemData: {
      const OptString* item = StrArg(call, 0);
      if (n != 1 || !item) return kBadCall;
      std::uint32_t scope = 0;
      OtlItemValues v;
      const HRESULT hr = GetItemData(item->value_or(std::string()), &scope, v, cancel);
      if (Succeeded(hr)) {
        out = {scope};
        for (CallArg& a : ItemValuesToArgs(v)) out.push_back(std::move(a));
      }
      return hr;
    }
    case filters::ProxyMethod::GetMsgFile: {
      const OptString* item = StrArg(call, 0);
      const OptString* section = StrArg(call, 1);
      const std::uint32_t* size = UlongArg(call, 2);
      const OptString* prefix = StrArg(call, 3);
      if (n != 4 || !item || !section || !size || !prefix) return kBadCall;
      std::string files, text;
      std::uint32_t kind = 0;
      const HRESULT hr = GetMsgFile(item->value_or(std::string()),
                                    section->value_or(std::string()), *size,
                                    prefix->value_or(std::string()), files, text, kind, cancel);
      if (Succeeded(hr)) out = {OptString(files), OptString(text), kind};
      return hr;
    }
  }
  return E_NOTIMPL;
}

// --- the program's object from another process ---

HRESULT RemoteCIProxy::AddScope(std::string_view directory, std::uint32_t* cookie) {
  if (directory.empty() || !cookie) return E_INVALIDARG;
  const CallRequest call{static_cast<std::uint32_t>(filters::ProxyMethod::AddScope), false,
                         {OptString(std::string(directory))}};
  platform::CallReply reply;
  HRESULT hr = table_->Call(kProxyClassObjectName, call, clock_, filters::kProxyCallLimit, {},
                            reply);
  if (Succeeded(hr)) hr = reply.hr;
  if (Failed(hr)) return hr;
  const std::uint32_t* id =
      reply.values.size() == 1 ? std::get_if<std::uint32_t>(&reply.values[0]) : nullptr;
  if (!id) return kBadCall;
  *cookie = *id;
  return hr;
}

HRESULT RemoteCIProxy::RemoveScope(std::uint32_t cookie) {
  if (cookie == 0) return S_FALSE;
  const CallRequest call{static_cast<std::uint32_t>(filters::ProxyMethod::RemoveScope), false,
                         {cookie}};
  platform::CallReply reply;
  const HRESULT hr = table_->Call(kProxyClassObjectName, call, clock_, filters::kProxyCallLimit,
                                  {}, reply);
  return Failed(hr) ? hr : reply.hr;
}

}  // namespace qv::mail
