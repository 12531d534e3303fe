#include "provider/filters/mail_proxy_client.h"

#include "provider/filters/filter_constants.h"

namespace qv::filters {
namespace {

using platform::CallArg;
using platform::CallReply;
using platform::CallRequest;
using OptString = std::optional<std::string>;

const HRESULT kBadData = HresultFromWin32(win32::ERROR_INVALID_DATA);

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Typed values front to back; a value of the wrong type fails the read.
class ArgReader {
 public:
  explicit ArgReader(std::span<const CallArg> args) : args_(args) {}
  bool Str(std::string& out) {
    const OptString* s = Next<OptString>();
    if (!s) return false;
    out = s->value_or(std::string());
    return true;
  }
  bool Ulong(std::uint32_t& out) { return Copy(out); }
  bool Date(double& out) { return Copy(out); }
  bool Done() const { return pos_ == args_.size(); }

 private:
  template <class T>
  const T* Next() {
    if (pos_ >= args_.size()) return nullptr;
    return std::get_if<T>(&args_[pos_++]);
  }
  template <class T>
  bool Copy(T& out) {
    const T* v = Next<T>();
    if (!v) return false;
    out = *v;
    return true;
  }
  std::span<const CallArg> args_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string MailScopeOfFolder(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  const auto slash = folder.find_last_of('/');
  if (slash == std::string_view::npos || slash == 0) return std::string(folder);
  const std::string_view name = folder.substr(slash + 1);
  if (name.size() == 2 && IsHexDigit(name[0]) && IsHexDigit(name[1])) {
    return std::string(folder.substr(0, slash));
  }
  return std::string(folder);
}

bool ProxyItemDataFromArgs(std::span<const CallArg> args, std::uint32_t& currentScope,
                           OtlItemData& out) {
  ArgReader r(args);
  OtlItemData d;
  std::uint32_t scope = 0;
  auto& s = d.set;
  if (!r.Ulong(scope) || !r.Ulong(d.flags) || !r.Ulong(d.pst) || !r.Str(d.searchKey) ||
      !r.Ulong(s.scope) || !r.Ulong(s.workingTime) || !r.Ulong(s.activeTime) ||
      !r.Ulong(s.visits) || !r.Date(s.firstVisitStart) || !r.Date(s.last.end) ||
      !r.Ulong(s.last.t) || !r.Ulong(s.last.n) || !r.Date(s.blended.end) ||
      !r.Ulong(s.blended.t) || !r.Ulong(s.blended.n)) {
    return false;
  }
  for (std::string* v :
       {&d.parentFolder, &d.prefix, &d.subject, &d.to, &d.from, &d.cc, &d.bcc, &d.itemType}) {
    if (!r.Str(*v)) return false;
  }
  if (!r.Ulong(d.messageFlags) || !r.Date(d.date1) || !r.Date(d.date2) || !r.Done()) {
    return false;
  }
  currentScope = scope;
  out = std::move(d);
  return true;
}

HRESULT RemoteOtlIndexing::Invoke(const CallRequest& call, CallReply& reply) const {
  const HRESULT hr = table_->Call(name_, call, clock_, limit_, {}, reply);
  if (hr == HresultFromWin32(win32::ERROR_TIMEOUT)) return E_ABORT;
  if (Failed(hr)) return hr;
  return reply.hr;
}

HRESULT RemoteOtlIndexing::GetItemData(const std::string& item, OtlItemData& out) {
  const CallRequest call{static_cast<std::uint32_t>(ProxyMethod::GetItemData), false,
                         {OptString(item)}};
  CallReply reply;
  const HRESULT hr = Invoke(call, reply);
  if (Failed(hr)) return hr;
  std::uint32_t scope = 0;
  return ProxyItemDataFromArgs(reply.values, scope, out) ? hr : kBadData;
}

HRESULT RemoteOtlIndexing::GetMsgFile(const std::string& item, const std::string& mmfName,
                                      std::uint32_t mmfSize, const std::string& prefix,
                                      std::string* files, std::string* text,
                                      std::uint32_t* kind) {
  const CallRequest call{static_cast<std::uint32_t>(ProxyMethod::GetMsgFile),
                         false,
                         {OptString(item), OptString(mmfName), mmfSize, OptString(prefix)}};
  CallReply reply;
  const HRESULT hr = Invoke(call, reply);
  if (Failed(hr)) return hr;
  ArgReader r(reply.values);
  std::string f, t;
  std::uint32_t k = 0;
  if (!r.Str(f) || !r.Str(t) || !r.Ulong(k) || !r.Done()) return kBadData;
  if (files) *files = std::move(f);
  if (text) *text = std::move(t);
  if (kind) *kind = k;
  return hr;
}

HRESULT SessionMailProxyTable::Find(const std::string& name,
                                    std::shared_ptr<IOtlIndexing>& out) const {
  if (!table_ || !table_->IsRunning(name)) return MK_E_UNAVAILABLE;
  out = std::make_shared<RemoteOtlIndexing>(table_, name, clock_);
  return S_OK;
}

}  // namespace qv::filters
