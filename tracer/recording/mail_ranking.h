#pragma once
// The mail add-in's ranking object as the mail recorder reaches it: registered in the running
// object table under "!Qv.OtlRanking." plus the logon session's identifier, with a read and a
// write method called asynchronously (begun, then waited for at most 5 s, cancelled if late).
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "common/clock.h"
#include "common/guid.h"
#include "common/hresult.h"
#include "mail/ranking_endpoint.h"
#include "platform/com/running_objects.h"
#include "provider/ranking/ranking.h"

namespace qv::tracer {

struct MailItemData {
  std::uint32_t state = 0;  // 0: not tracked; 2: has a ranking set; other: start one
  std::uint32_t pst = 0;
  Guid searchKey;
  ranking::RankingSet set;
  std::string parentFolder, prefix, subject, to, from, cc, bcc, itemType;
  std::uint32_t messageFlags = 0;
  DATE date1 = 0, date2 = 0;
};

class MailRankingObject {
 public:
  virtual ~MailRankingObject() = default;
  // Both may take their time; they give up with E_ABORT once `cancel` is requested.
  virtual HRESULT Read(const std::string& itemId, MailItemData& out, std::stop_token cancel) = 0;
  virtual HRESULT Write(const std::string& itemId, const ranking::RankingSet& set,
                        std::stop_token cancel) = 0;
};

// The add-in's ranking object in another process, as the recorder calls it: the recorder's
// stop request closes the call's connection, so the add-in's side learns of it too.
class RemoteMailRanking final : public MailRankingObject {
 public:
  explicit RemoteMailRanking(std::shared_ptr<mail::RemoteOtlRanking> remote)
      : remote_(std::move(remote)) {}
  HRESULT Read(const std::string& itemId, MailItemData& out, std::stop_token cancel) override;
  HRESULT Write(const std::string& itemId, const ranking::RankingSet& set,
                std::stop_token cancel) override;

 private:
  std::shared_ptr<mail::RemoteOtlRanking> remote_;
};

// The running object table as the recorder sees it: objects registered in this process, then
// the session's table, whose objects are reached through RemoteMailRanking.
class RunningObjectTable {
 public:
  RunningObjectTable() = default;
  RunningObjectTable(std::shared_ptr<const platform::RunningObjects> session, const Clock& clock)
      : session_(std::move(session)), clock_(&clock) {}

  // MK_E_UNAVAILABLE (0x800401E3) when nothing is registered or served under `name`.
  HRESULT GetObject(const std::string& name, std::shared_ptr<MailRankingObject>& out) const;
  void Register(const std::string& name, std::shared_ptr<MailRankingObject> object);
  void Revoke(const std::string& name);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<MailRankingObject>> objects_;
  std::shared_ptr<const platform::RunningObjects> session_;
  const Clock* clock_ = nullptr;
};

// The logon session's identifier as the ranking object's name carries it: "%x:%x" of the
// high and low parts (the session id of the process on this platform).
std::string LogonSessionId();

// Runs `call` on its own thread and waits at most `limit`; a late call is cancelled, still
// joined, and gives E_ABORT.
HRESULT CallWithLimit(const std::function<HRESULT(std::stop_token)>& call,
                      std::chrono::milliseconds limit);

}  // namespace qv::tracer
