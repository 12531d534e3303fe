#include "mail/ranking_endpoint.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace qv::mail {
namespace {

using platform::CallArg;
using platform::CallReply;
using platform::CallRequest;
using OptString = std::optional<std::string>;

const HRESULT kBadData = HresultFromWin32(win32::ERROR_INVALID_DATA);

CallArg Str(std::string_view s) { return OptString(std::string(s)); }

// Reads typed values front to back; any value of the wrong type fails the whole read.
class ArgReader {
 public:
  explicit ArgReader(std::span<const CallArg> args) : args_(args) {}
  bool Str(std::string& out) {
    if (!Has()) return false;
    const auto* s = std::get_if<OptString>(&args_[pos_++]);
    if (!s) return false;
    out = s->value_or(std::string());
    return true;
  }
  bool Ulong(std::uint32_t& out) { return Get(out); }
  bool Date(double& out) { return Get(out); }
  bool Done() const { return pos_ == args_.size(); }

 private:
  bool Has() const { return pos_ < args_.size(); }
  template <class T>
  bool Get(T& out) {
    if (!Has()) return false;
    const T* v = std::get_if<T>(&args_[pos_++]);
    if (!v) return false;
    out = *v;
    return true;
  }
  std::span<const CallArg> args_;
  std::size_t pos_ = 0;
};

void SetToArgs(const ranking::RankingSet& s, std::vector<CallArg>& out) {
  out.insert(out.end(), {s.scope, s.workingTime, s.activeTime, s.visits, s.firstVisitStart,
                         s.last.end, s.last.t, s.last.n, s.blended.end, s.blended.t,
                         s.blended.n});
}

bool SetFromArgs(ArgReader& r, ranking::RankingSet& s) {
  return r.Ulong(s.scope) && r.Ulong(s.workingTime) && r.Ulong(s.activeTime) &&
         r.Ulong(s.visits) && r.Date(s.firstVisitStart) && r.Date(s.last.end) &&
         r.Ulong(s.last.t) && r.Ulong(s.last.n) && r.Date(s.blended.end) &&
         r.Ulong(s.blended.t) && r.Ulong(s.blended.n);
}

// One served ranking object: decodes each call, runs it on the object under one lock.
class Served {
 public:
  explicit Served(std::shared_ptr<OtlRanking> object) : object_(std::move(object)) {}

  HRESULT Handle(const CallRequest& call, std::vector<CallArg>& out) {
    ArgReader r(call.args);
    std::string item;
    switch (static_cast<OtlMethod>(call.method)) {
      case OtlMethod::Read: {
        if (!r.Str(item) || !r.Done()) return kBadData;
        OtlItemValues v;
        std::lock_guard lock(mutex_);
        const HRESULT hr = object_->ReadItem(item, v);
        if (Succeeded(hr)) out = ItemValuesToArgs(v);
        return hr;
      }
      case OtlMethod::Write: {
        ranking::RankingSet set;
        if (!r.Str(item) || !SetFromArgs(r, set) || !r.Done()) return kBadData;
        std::lock_guard lock(mutex_);
        return object_->WriteItem(item, set);
      }
      case OtlMethod::MsgFile: {
        std::string section, prefix, files, text;
        std::uint32_t size = 0, kind = 0;
        if (!r.Str(item) || !r.Str(section) || !r.Ulong(size) || !r.Str(prefix) || !r.Done()) {
          return kBadData;
        }
        std::lock_guard lock(mutex_);
        const HRESULT hr = object_->GetMsgFile(item, section, size, prefix, files, text, kind);
        if (Succeeded(hr)) out = {Str(files), Str(text), kind};
        return hr;
      }
    }
    return E_NOTIMPL;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<OtlRanking> object_;
};

}  // namespace

std::string LogonSessionId() {
  const auto sid = static_cast<unsigned long long>(::getsid(0));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%x:%x", static_cast<unsigned>(sid >> 32),
                static_cast<unsigned>(sid & 0xFFFFFFFFu));
  return buf;
}

std::string OtlRankingName(std::string_view logonId) {
  return std::string(kOtlRankingPrefix) + std::string(logonId);
}

std::vector<CallArg> ItemValuesToArgs(const OtlItemValues& v) {
  std::vector<CallArg> out = {v.state, v.pst, Str(v.searchKey)};
  SetToArgs(v.set, out);
  for (const std::string* s :
       {&v.parentFolder, &v.prefix, &v.subject, &v.to, &v.from, &v.cc, &v.bcc, &v.itemType}) {
    out.push_back(Str(*s));
  }
  out.insert(out.end(), {v.messageFlags, v.date1, v.date2});
  return out;
}

bool ItemValuesFromArgs(std::span<const CallArg> args, OtlItemValues& out) {
  ArgReader r(args);
  OtlItemValues v;
  if (!r.Ulong(v.state) || !r.Ulong(v.pst) || !r.Str(v.searchKey) || !SetFromArgs(r, v.set)) {
    return false;
  }
  for (std::string* s :
       {&v.parentFolder, &v.prefix, &v.subject, &v.to, &v.from, &v.cc, &v.bcc, &v.itemType}) {
    if (!r.Str(*s)) return false;
  }
  if (!r.Ulong(v.messageFlags) || !r.Date(v.date1) || !r.Date(v.date2) || !r.Done()) {
    return false;
  }
  out = std::move(v);
  return true;
}

HRESULT PublishOtlRanking(const platform::RunningObjects& table, std::string_view logonId,
                          std::shared_ptr<OtlRanking> object,
                          std::unique_ptr<platform::Registration>& out) {
  if (!object || logonId.empty()) return E_INVALIDARG;
  auto served = std::make_shared<Served>(std::move(object));
  return table.Register(
      OtlRankingName(logonId),
      [served](const CallRequest& call, std::vector<CallArg>& values, std::stop_token) {
        return served->Handle(call, values);
      },
      out);
}

HRESULT RemoteOtlRanking::Invoke(const CallRequest& call, std::stop_token cancel,
                                 CallReply& reply) const {
  if (!table_) return platform::MK_E_UNAVAILABLE;
  const HRESULT hr = table_->Call(name_, call, clock_, limit_, cancel, reply);
  if (hr == HresultFromWin32(win32::ERROR_TIMEOUT)) return E_ABORT;
  if (Failed(hr)) return hr;
  return reply.hr;
}

HRESULT RemoteOtlRanking::ReadItem(std::string_view itemId, OtlItemValues& out,
                                   std::stop_token cancel) {
  CallRequest call{static_cast<std::uint32_t>(OtlMethod::Read), false, {Str(itemId)}};
  CallReply reply;
  const HRESULT hr = Invoke(call, cancel, reply);
  if (Failed(hr)) return hr;
  return ItemValuesFromArgs(reply.values, out) ? hr : kBadData;
}

HRESULT RemoteOtlRanking::WriteItem(std::string_view itemId, const ranking::RankingSet& set,
                                    std::stop_token cancel) {
  CallRequest call{static_cast<std::uint32_t>(OtlMethod::Write), false, {Str(itemId)}};
  SetToArgs(set, call.args);
  CallReply reply;
  return Invoke(call, cancel, reply);
}

HRESULT RemoteOtlRanking::GetMsgFile(std::string_view itemId, std::string_view sectionName,
                                     std::uint32_t sectionSize, std::string_view prefix,
                                     std::string& files, std::string& text, std::uint32_t& kind,
                                     std::stop_token cancel) {
  CallRequest call{static_cast<std::uint32_t>(OtlMethod::MsgFile),
                   false,
                   {Str(itemId), Str(sectionName), sectionSize, Str(prefix)}};
  CallReply reply;
  const HRESULT hr = Invoke(call, cancel, reply);
  if (Failed(hr)) return hr;
  ArgReader r(reply.values);
  std::string f, t;
  std::uint32_t k = 0;
  if (!r.Str(f) || !r.Str(t) || !r.Ulong(k) || !r.Done()) return kBadData;
  files = std::move(f);
  text = std::move(t);
  kind = k;
  return hr;
}

}  // namespace qv::mail
