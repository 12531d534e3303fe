#include "tracer/recording/mail_ranking.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <thread>

#include "tracer/recording/recording_constants.h"

namespace qv::tracer {

HRESULT RunningObjectTable::GetObject(const std::string& name,
                                      std::shared_ptr<MailRankingObject>& out) const {
  std::lock_guard lock(mutex_);
  auto it = objects_.find(name);
  if (it == objects_.end()) return MK_E_UNAVAILABLE;
  out = it->second;
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

std::string LogonSessionId() {
  const auto sid = static_cast<unsigned long long>(getsid(0));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%x:%x", static_cast<unsigned>(sid >> 32),
                static_cast<unsigned>(sid & 0xFFFFFFFFu));
  return buf;
}

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
