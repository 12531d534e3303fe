#include "tracer/recording/mail_ranking.h"

#include <condition_variable>
#include <thread>

#include "tracer/recording/recording_constants.h"

namespace qv::tracer {

HRESULT RemoteMailRanking::Read(const std::string& itemId, MailItemData& out,
                                std::stop_token cancel) {
  mail::OtlItemValues v;
  HRESULT hr = remote_->ReadItem(itemId, v, cancel);
  // Giving up is an abort to the recorder, whichever side noticed first.
  if (hr == platform::RPC_E_CALL_CANCELED) hr = E_ABORT;
  if (Failed(hr)) return hr;
  MailItemData d;
  d.state = v.state;
  d.pst = v.pst;
  if (const auto key = ParseGuid(v.searchKey)) d.searchKey = *key;
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
  out = std::move(d);
  return hr;
}

HRESULT RemoteMailRanking::Write(const std::string& itemId, const ranking::RankingSet& set,
                                 std::stop_token cancel) {
  const HRESULT hr = remote_->WriteItem(itemId, set, cancel);
  return hr == platform::RPC_E_CALL_CANCELED ? E_ABORT : hr;
}

HRESULT RunningObjectTable::GetObject(const std::string& name,
                                      std::shared_ptr<MailRankingObject>& out) const {
  {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(name);
    if (it != objects_.end()) {
      out = it->second;
      return S_OK;
    }
  }
  if (!session_ || !clock_) return MK_E_UNAVAILABLE;
  // Only a name that is served now is an object; each call connects anew.
  if (!session_->IsRunning(name)) return MK_E_UNAVAILABLE;
  out = std::make_shared<RemoteMailRanking>(
      std::make_shared<mail::RemoteOtlRanking>(session_, name, *clock_, kMailCallLimit));
  return S_OK;
}

void RunningObjectTable::Register(const std::string& name,
                                  std::shared_ptr<MailRankingObject> object) {
  std::lock_guard lock(mutex_);
  objects_[name] = std::move(object);
}

void RunningObjectTable::Revoke(const std::string& name) {
  std::lock_guard lock(mutex_);
  objects_.erase(name);
}

std::string LogonSessionId() { return mail::LogonSessionId(); }

HRESULT CallWithLimit(const std::function<HRESULT(std::stop_token)>& call,
                      std::chrono::milliseconds limit) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  HRESULT result = E_ABORT;
  std::jthread worker([&](std::stop_token stop) {
    const HRESULT hr = call(stop);
    std::lock_guard lock(m);
    result = hr;
    done = true;
    cv.notify_all();
  });
  std::unique_lock lock(m);
  if (!cv.wait_for(lock, limit, [&] { return done; })) {
    lock.unlock();
    worker.request_stop();
    worker.join();  // the call's outputs are still collected, then thrown away
    return E_ABORT;
  }
  return result;
}

}  // namespace qv::tracer
