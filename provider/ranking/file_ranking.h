#pragma once
// FileRanking: the ranking record kept on a file, in its extended attribute. Updates a
// record for a finished visit, reads it back, gives statistics and the search key, deletes
// it, and decides whether a file may be ranked at all. An update that meets another
// program's lock is handed to the ranking service's listener.
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "context/context.h"
#include "interfaces/ikiv_file_ranking.h"
#include "interfaces/ikiv_listener.h"
#include "provider/ranking/ranking.h"
#include "provider/ranking/ranking_record.h"
#include "provider/ranking/ranking_switches.h"
#include "provider/ranking/writable_mounts.h"

namespace qv {

class BaseActivation;

inline constexpr std::uint32_t kEventRecordReadFailed = 0xC0000410;
inline constexpr std::uint32_t kEventBadSearchKey = 0xC0000411;
inline constexpr std::uint32_t kEventRestoreTimeFailed = 0xC0000412;
// A ranking update moves the file's modification time forward by at most this much.
inline constexpr FileTime kModificationSlack = 2 * kFileTimeTicksPerSecond;

// Not empty, absolute, on a local fixed volume, an existing regular file (decided by stat,
// without opening it), not a program.
bool IsRankableFile(const std::filesystem::path& file);

class FileRanking final : public IKivFileRanking {
 public:
  explicit FileRanking(const Context& ctx)
      : FileRanking(ctx, std::make_shared<ranking::RankingCaches>(ctx.registry, ctx.clock)) {}
  FileRanking(const Context& ctx, std::shared_ptr<ranking::RankingCaches> caches)
      : ctx_(ctx), caches_(std::move(caches)) {}

  HRESULT UpdateRank(const std::string* bstrFile, ULONG nUnits, ULONG nVisits, DATE dtStart,
                     DATE dtFinish, ULONG ulWorkingTime, ULONG ulActiveTime, ULONG lScope,
                     ULONG ulRetry, const std::string* bstrSearchKey) override;
  HRESULT IsLockViolation(ULONG hr) override;
  HRESULT IsUpdateable(const std::string* bstrFile) override;
  HRESULT AccessCheck(const std::string* bstrFile, VARIANT_BOOL bCOMClient) override;
  HRESULT GetStatistics(const std::string* bstrFile, VARIANT_BOOL* pbValidSet,
                        std::string* bstrSearchKey, ULONG* pWorkingTime, ULONG* pActiveTime,
                        ULONG* pVisits, DATE* pFirstVisit, DATE* pLastVisit, float* pfActivation,
                        ULONG* pForgetingScale) override;
  HRESULT GetRankingSet(const std::string* bstrFile, VARIANT_BOOL* pbValidSet, Guid* pSearchKey,
                        ULONG* pdwScope, ULONG* plWorkingTime, ULONG* plActiveTime,
                        ULONG* plVisits, DATE* pdFirstVisitStart, DATE* pdLastVisitEnd,
                        ULONG* plLvT, ULONG* plLvN, DATE* pdBlVisitEnd, ULONG* plBlT,
                        ULONG* plBlN) override;
  HRESULT DeleteRank(const std::string* bstrFile) override;
  HRESULT get_CurrentScope(ULONG* pVal) override;
  HRESULT PreRank(const std::string* bstrFile, ULONG* pulScope, std::string* pbstrSearchKey,
                  VARIANT_BOOL* pSetNotFound) override;

 private:
  HRESULT Update(const std::string& file, ULONG nUnits, ULONG nVisits, DATE dtStart,
                 DATE dtFinish, ULONG working, ULONG active, ULONG lScope,
                 const std::string* searchKey);
  bool NoSearchKeys() { return caches_->switches.Get().noSearchKeys; }
  HRESULT Activation(std::shared_ptr<BaseActivation>& out);

  const Context& ctx_;
  // Kept between updates: what the process knows of the settings and mounts (shared by
  // every object its class factory makes), the activation object, which holds no state,
  // and the effective user, which this process never changes.
  std::shared_ptr<ranking::RankingCaches> caches_;
  const ranking::RankingRecordLayout& layout_ = ranking::RankingRecordLayout::Ours();
  std::vector<std::uint8_t> stream_;  // the record read and written
  const uid_t user_ = ::geteuid();  // the user whose files this object ranks
  std::shared_ptr<BaseActivation> activation_;
};

// Registers BaseActivation and FileRanking in ctx.classes.
void RegisterRankingClasses(Context& ctx);

}  // namespace qv
