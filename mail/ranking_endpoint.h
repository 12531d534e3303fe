#pragma once
// The add-in's ranking object across processes: the add-in publishes it in the session's
// running object table under "!Qv.OtlRanking." plus the logon id; the tracer's mail recorder
// and the mail proxy call it through RemoteOtlRanking.
//
// Methods by slot: 1 read (item id; out: the 25 item values in OtlItemValues order), 2 write
// (item id and the 11 ranking values), 4 message file (item, section name, section size,
// prefix; out: files, charset text, body kind). Slot 3 belongs to the add-in alone.
#include <chrono>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "mail/otl_ranking.h"
#include "platform/com/running_objects.h"

namespace qv::mail {

enum class OtlMethod : std::uint32_t { Read = 1, Write = 2, MsgFile = 4 };

// How many values the read entry hands back.
inline constexpr std::size_t kItemValueCount = 25;
// How long a caller without a limit of its own waits for the add-in.
inline constexpr std::chrono::milliseconds kDefaultOtlCallLimit{5000};

std::string OtlRankingName(std::string_view logonId);
// The logon session's identifier as the ranking object's name carries it: "%x:%x" of the
// high and low parts (the session id of the process on this platform).
std::string LogonSessionId();

// The item values as out values of a reply, and back. False when the values do not have
// exactly the read entry's shape.
std::vector<platform::CallArg> ItemValuesToArgs(const OtlItemValues& v);
bool ItemValuesFromArgs(std::span<const platform::CallArg> args, OtlItemValues& out);

// Serves `object` under OtlRankingName(logonId). Calls reach the object one at a time, as
// they would reach an add-in living on the mail client's one thread.
HRESULT PublishOtlRanking(const platform::RunningObjects& table, std::string_view logonId,
                          std::shared_ptr<OtlRanking> object,
                          std::unique_ptr<platform::Registration>& out);

// The ranking object of another process. A call that outlives its limit gives E_ABORT, one
// whose stop is requested RPC_E_CALL_CANCELED (the connection is closed either way, so the
// add-in's side learns of it); nothing serving the name gives MK_E_UNAVAILABLE.
class RemoteOtlRanking final : public OtlRanking {
 public:
  RemoteOtlRanking(std::shared_ptr<const platform::RunningObjects> table, std::string name,
                   const Clock& clock, std::chrono::milliseconds limit = kDefaultOtlCallLimit)
      : table_(std::move(table)), name_(std::move(name)), clock_(clock), limit_(limit) {}

  HRESULT ReadItem(std::string_view itemId, OtlItemValues& out) override {
    return ReadItem(itemId, out, {});
  }
  HRESULT WriteItem(std::string_view itemId, const ranking::RankingSet& set) override {
    return WriteItem(itemId, set, {});
  }
  HRESULT GetMsgFile(std::string_view itemId, std::string_view sectionName,
                     std::uint32_t sectionSize, std::string_view prefix, std::string& files,
                     std::string& text, std::uint32_t& kind) override {
    return GetMsgFile(itemId, sectionName, sectionSize, prefix, files, text, kind, {});
  }

  HRESULT ReadItem(std::string_view itemId, OtlItemValues& out, std::stop_token cancel);
  HRESULT WriteItem(std::string_view itemId, const ranking::RankingSet& set,
                    std::stop_token cancel);
  HRESULT GetMsgFile(std::string_view itemId, std::string_view sectionName,
                     std::uint32_t sectionSize, std::string_view prefix, std::string& files,
                     std::string& text, std::uint32_t& kind, std::stop_token cancel);

 private:
  HRESULT Invoke(const platform::CallRequest& call, std::stop_token cancel,
                 platform::CallReply& reply) const;

  std::shared_ptr<const platform::RunningObjects> table_;
  std::string name_;
  const Clock& clock_;
  std::chrono::milliseconds limit_;
};

}  // namespace qv::mail
