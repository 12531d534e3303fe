#include "provider/ranking/file_ranking.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "context/event_report.h"
#include "platform/fs/file_attributes.h"
#include "platform/propset/property_store.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/ranking_record.h"

namespace qv {
namespace {

using platform::PropertyStorage;

bool IsLockCode(HRESULT hr) {
  return hr == STG_E_LOCKVIOLATION || hr == STG_E_SHAREVIOLATION || hr == STG_E_ACCESSDENIED;
}

// Codes that look like a lock but arose elsewhere must not send the visit to the service.
HRESULT NotALock(HRESULT hr) { return IsLockCode(hr) ? E_FAIL : hr; }

}  // namespace

namespace {

// What the checks before an update need to know of a file and its volume, gathered once.
struct FileFacts {
  HRESULT statHr = E_FAIL;
  platform::FileAttributes attrs;
  HRESULT volumeHr = E_FAIL;
  platform::VolumeInfo volume;
};

bool LooksLocal(const std::filesystem::path& file) {
  // Absolute (the "drive letter") and not a network path.
  return !file.empty() && file.is_absolute() && file.string().rfind("//", 0) != 0;
}

// What an updating object already knows: the mounts found to take updates and its user.
struct Known {
  ranking::WritableMounts& mounts;
  uid_t user;
};

// With `known`, a volume already known to take updates is not asked about again, and one
// newly found to take them is remembered; `fromCache` tells which happened.
FileFacts Gather(const std::filesystem::path& file, Known* known = nullptr,
                 bool* fromCache = nullptr) {
  FileFacts f;
  if (fromCache) *fromCache = false;
  if (LooksLocal(file)) {
    f.statHr = known ? platform::StatFile(file, f.attrs, known->user)
                     : platform::StatFile(file, f.attrs);
    ranking::WritableMounts* mounts = known ? &known->mounts : nullptr;
    const std::optional<platform::VolumeInfo> volume =
        mounts && Succeeded(f.statHr) ? mounts->Find(f.attrs.mountId) : std::nullopt;
    if (volume) {
      f.volume = *volume;
      f.volumeHr = S_OK;
      if (fromCache) *fromCache = true;
    } else {
      f.volumeHr = platform::GetVolumeInfo(file, f.volume);
      if (mounts && Succeeded(f.statHr) && Succeeded(f.volumeHr) &&
          f.volume.type == platform::DriveType::Fixed && !f.volume.readOnly) {
        mounts->Remember(f.attrs.mountId, f.volume);
      }
    }
  }
  return f;
}

bool Rankable(const std::filesystem::path& file, const FileFacts& f) {
  return LooksLocal(file) && Succeeded(f.volumeHr) &&
         f.volume.type == platform::DriveType::Fixed && Succeeded(f.statHr) &&
         f.attrs.regular && !platform::HasProgramExtension(file);
}

// Callers and this process run as the same user here, so the COM client's identity and the
// process's are one: the check is made with the effective ids.
HRESULT CheckAccess(const std::filesystem::path& file, const FileFacts& f) {
  if (!Rankable(file, f)) return HresultFromWin32(win32::ERROR_UNSUPPORTED_TYPE);
  if (f.volume.type == platform::DriveType::Unknown) return E_INVALIDARG;
  if (f.volume.type == platform::DriveType::Remote || f.volume.type == platform::DriveType::CdRom ||
      f.volume.readOnly) {
    return HresultFromWin32(win32::ERROR_WRITE_FAULT);
  }
  if (!f.volume.persistentAcls) return S_OK;  // FAT keeps no permissions: everyone may read
  if (f.attrs.ownedByUser && (f.attrs.mode & S_IRUSR)) return S_OK;
  return ::faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) == 0 ? S_OK : E_ACCESSDENIED;
}

// Read-only files and anything but regular files are not updated; encrypted and no-dump
// files neither, but their inode flags need an open descriptor and are checked by the caller.
HRESULT CheckUpdateable(const FileFacts& f) {
  if (Failed(f.statHr)) return f.statHr;
  return f.attrs.readOnly || !f.attrs.regular ? S_FALSE : S_OK;
}

}  // namespace

bool IsRankableFile(const std::filesystem::path& file) { return Rankable(file, Gather(file)); }

HRESULT FileRanking::Activation(std::shared_ptr<BaseActivation>& out) {
  if (!activation_) {
    std::shared_ptr<IBaseActivation> obj;
    if (const HRESULT hr = ctx_.classes.CreateInstance(CLSID_BaseActivation, obj); Failed(hr)) {
      return hr;
    }
    activation_ = std::dynamic_pointer_cast<BaseActivation>(obj);
    if (!activation_) return E_NOINTERFACE;
  }
  out = activation_;
  return S_OK;
}

HRESULT FileRanking::IsLockViolation(ULONG hr) {
  return IsLockCode(static_cast<HRESULT>(hr)) ? S_OK : S_FALSE;
}

HRESULT FileRanking::IsUpdateable(const std::string* bstrFile) {
  if (!bstrFile || bstrFile->empty()) return E_INVALIDARG;
  platform::FileAttributes attrs;
  if (const HRESULT hr = platform::GetFileAttributes(*bstrFile, attrs); Failed(hr)) return hr;
  if (!attrs.regular || attrs.readOnly || attrs.notContentIndexed || attrs.encrypted) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT FileRanking::AccessCheck(const std::string* bstrFile, VARIANT_BOOL /*bCOMClient*/) {
  if (!bstrFile) return HresultFromWin32(win32::ERROR_UNSUPPORTED_TYPE);
  return CheckAccess(*bstrFile, Gather(*bstrFile));
}

HRESULT FileRanking::Update(const std::string& file, ULONG nUnits, ULONG nVisits, DATE dtStart,
                            DATE dtFinish, ULONG working, ULONG active, ULONG lScope,
                            const std::string* searchKey) {
  bool volumeFromCache = false;
  Known known{caches_->mounts, user_};
  const std::filesystem::path path(file);  // taken apart once for all the checks
  const FileFacts facts = Gather(path, &known, &volumeFromCache);
  if (CheckAccess(path, facts) != S_OK) return S_FALSE;
  if (file.empty()) return E_INVALIDARG;
  if (const HRESULT hr = CheckUpdateable(facts); hr != S_OK) return hr;
  const FileTime lastWriteBefore = facts.attrs.lastWrite;

  std::shared_ptr<BaseActivation> activation;
  if (const HRESULT hr = Activation(activation); Failed(hr)) return NotALock(hr);

  // The stat above found a regular file; Open checks that it opened that same file.
  std::unique_ptr<PropertyStorage> storage;
  if (const HRESULT hr = PropertyStorage::Open(
          path, PropertyStorage::Mode::ReadWriteExclusive,
          PropertyStorage::KnownFile{facts.attrs.device, facts.attrs.inode}, storage);
      Failed(hr)) {
    if (volumeFromCache) {
      // The mount may have changed (remounted read-only) since it was last asked about:
      // asked now, it answers as it would have before the open.
      caches_->mounts.Forget(facts.attrs.mountId);
      const FileFacts fresh = Gather(path);
      if (CheckAccess(path, fresh) != S_OK) return S_FALSE;
      if (const HRESULT u = CheckUpdateable(fresh); u != S_OK) return u;
    }
    return hr;  // another program's lock arrives here as a lock violation
  }
  platform::FileAttributes flags;
  if (const auto& known = storage->inodeFlags()) {
    flags.encrypted = known->encrypted;
    flags.notContentIndexed = known->noDump;
  } else {
    platform::ReadInodeFlags(storage->fd(), flags);
  }
  if (flags.encrypted || flags.notContentIndexed) return S_FALSE;

  bool isNew = true;
  Guid storedKey;
  ranking::RankingSet set;
  HRESULT readHr = storage->ReadStream(layout_.attribute(), stream_);
  if (Succeeded(readHr)) {
    // Our own record's layout is read in place; any other goes through the general codec.
    ranking::RankingSet stored;
    bool valid = layout_.Decode(stream_, storedKey, stored);
    if (!valid) {
      platform::PropertySet ps;
      readHr = platform::ParsePropertySet(stream_, ps);
      // The attribute's name and the set inside must agree.
      if (Succeeded(readHr) && ps.fmtid != ranking::kRankingFmtid) readHr = STG_E_DOCFILECORRUPT;
      valid = Succeeded(readHr) && ranking::ReadRankingProperties(ps, storedKey, stored);
    }
    if (valid && stored.scope == lScope) {
      set = stored;
      isNew = false;
    }
  }
  if (readHr == STG_E_ACCESSDENIED) return readHr;
  if (readHr == STG_E_DOCFILECORRUPT || readHr == STG_E_INVALIDHEADER) {
    ReportItemWarning(ctx_, kCategoryProvider, kEventRecordReadFailed, file, readHr);
  } else if (Failed(readHr) && readHr != STG_E_FILENOTFOUND) {
    return readHr;
  }
  if (isNew) set = ranking::RankingSet{};

  const ranking::Switches switches = caches_->switches.Get();
  if (const HRESULT hr = activation->CalcRankingSet(
          lScope, nUnits, nVisits, dtStart, dtFinish, working, active,
          isNew ? VARIANT_TRUE : VARIANT_FALSE, !switches.disableStatistics, set);
      Failed(hr)) {
    return NotALock(hr);
  }

  Guid key;  // GUID_NULL when search keys are switched off
  if (!switches.noSearchKeys) {
    if (!isNew) {
      key = storedKey;
    } else if (!searchKey || searchKey->empty()) {
      if (const HRESULT hr = NewGuid(key); Failed(hr)) return NotALock(hr);
    } else if (auto parsed = ParseGuid(*searchKey)) {
      key = *parsed;
    } else {
      ReportItemWarning(ctx_, kCategoryProvider, kEventBadSearchKey, file, CO_E_CLASSSTRING);
      if (const HRESULT hr = NewGuid(key); Failed(hr)) return NotALock(hr);
    }
  }

  const FileTime changedNoEarlier = platform::ChangeTimeLowerBound();
  layout_.Encode(key, set, stream_);
  if (const HRESULT hr = storage->WriteStream(layout_.attribute(), stream_); Failed(hr)) return hr;

  // The property write counts as a change of the file at the moment it happened (the inode
  // change time); the modification time then moves to that moment, but never more than
  // 2 s past where it was, so indexers notice the change and the file does not look new.
  // For a file last written more than a few seconds ago the write is surely stamped past
  // that limit, and the time moves to the limit without a stat to learn the stamp.
  const FileTime limit = lastWriteBefore + kModificationSlack;
  platform::FileAttributes after;
  HRESULT hr = changedNoEarlier >= limit ? platform::SetLastWriteTime(storage->fd(), limit)
                                         : platform::StatTimes(storage->fd(), after);
  if (Succeeded(hr) && changedNoEarlier < limit) {
    const FileTime target = after.lastWrite > limit
                                ? limit
                                : std::max(after.lastWrite, std::min(after.lastChange, limit));
    if (target != after.lastWrite) hr = platform::SetLastWriteTime(storage->fd(), target);
  }
  if (Failed(hr)) ReportItemWarning(ctx_, kCategoryProvider, kEventRestoreTimeFailed, file, hr);
  return S_OK;
}

HRESULT FileRanking::UpdateRank(const std::string* bstrFile, ULONG nUnits, ULONG nVisits,
                                DATE dtStart, DATE dtFinish, ULONG ulWorkingTime,
                                ULONG ulActiveTime, ULONG lScope, ULONG ulRetry,
                                const std::string* bstrSearchKey) {
  const HRESULT hr = bstrFile ? Update(*bstrFile, nUnits, nVisits, dtStart, dtFinish,
                                       ulWorkingTime, ulActiveTime, lScope, bstrSearchKey)
                              : S_FALSE;
  // Access denied is not a lock: the service would retry with the same rights it has, so
  // the visit would only wait to fail. Only real lock and sharing violations are deferred.
  if (hr == STG_E_ACCESSDENIED || IsLockViolation(static_cast<ULONG>(hr)) != S_OK) return hr;
  std::shared_ptr<IKivListener> listener;
  if (const HRESULT c = ctx_.classes.CreateInstance(CLSID_KivListener, listener); Failed(c)) {
    return c;
  }
  return listener->UpdatePending(bstrFile, nUnits, nVisits, dtStart, dtFinish, ulWorkingTime,
                                 ulActiveTime, lScope, ulRetry, bstrSearchKey);
}

HRESULT FileRanking::GetRankingSet(const std::string* bstrFile, VARIANT_BOOL* pbValidSet,
                                   Guid* pSearchKey, ULONG* pdwScope, ULONG* plWorkingTime,
                                   ULONG* plActiveTime, ULONG* plVisits, DATE* pdFirstVisitStart,
                                   DATE* pdLastVisitEnd, ULONG* plLvT, ULONG* plLvN,
                                   DATE* pdBlVisitEnd, ULONG* plBlT, ULONG* plBlN) {
  if (!bstrFile || !pbValidSet) return E_INVALIDARG;
  std::unique_ptr<PropertyStorage> storage;
  if (const HRESULT hr = PropertyStorage::Open(*bstrFile, PropertyStorage::Mode::Read, storage);
      Failed(hr)) {
    return hr;
  }
  platform::PropertySet ps;
  if (const HRESULT hr = storage->Read(ranking::kRankingFmtid, ps); Failed(hr)) return hr;
  Guid key;
  ranking::RankingSet s;
  if (!ranking::ReadRankingProperties(ps, key, s)) return E_FAIL;

  ULONG scope = 0;
  BaseActivation scoper(ctx_);
  if (Failed(scoper.ComputeScope(scope)) || scope != s.scope) {
    *pbValidSet = VARIANT_FALSE;
    return S_OK;
  }
  auto put = [](auto* p, auto v) {
    if (p) *p = v;
  };
  put(pSearchKey, key);
  put(pdwScope, s.scope);
  put(plWorkingTime, s.workingTime);
  put(plActiveTime, s.activeTime);
  put(plVisits, s.visits);
  put(pdFirstVisitStart, s.firstVisitStart);
  put(pdLastVisitEnd, s.last.end);
  put(plLvT, s.last.t);
  put(plLvN, s.last.n);
  put(pdBlVisitEnd, s.blended.end);
  put(plBlT, s.blended.t);
  put(plBlN, s.blended.n);
  *pbValidSet = VARIANT_TRUE;
  return S_OK;
}

HRESULT FileRanking::GetStatistics(const std::string* bstrFile, VARIANT_BOOL* pbValidSet,
                                   std::string* bstrSearchKey, ULONG* pWorkingTime,
                                   ULONG* pActiveTime, ULONG* pVisits, DATE* pFirstVisit,
                                   DATE* pLastVisit, float* pfActivation,
                                   ULONG* pForgetingScale) {
  if (!pbValidSet) return E_INVALIDARG;
  *pbValidSet = VARIANT_FALSE;
  std::shared_ptr<IBaseActivation> activation;
  if (const HRESULT hr = ctx_.classes.CreateInstance(CLSID_BaseActivation, activation);
      Failed(hr)) {
    return hr;
  }
  Guid key;
  DATE lv = 0, be = 0;
  ULONG lt = 0, ln = 0, bt = 0, bn = 0;
  if (const HRESULT hr = GetRankingSet(bstrFile, pbValidSet, &key, nullptr, pWorkingTime,
                                       pActiveTime, pVisits, pFirstVisit, &lv, &lt, &ln, &be, &bt,
                                       &bn);
      Failed(hr)) {
    return hr;
  }
  if (*pbValidSet != VARIANT_TRUE) return S_OK;
  if (bstrSearchKey) *bstrSearchKey = FormatGuid(key);
  if (pLastVisit) *pLastVisit = lv;
  if (pfActivation || pForgetingScale) {
    float a = 0.0f;
    ULONG scale = 0;  // GetActivationScale leaves it alone for small activations
    if (Failed(activation->GetCurrentActivation(lv, ln, lt, be, bn, bt, &a))) {
      a = 0.0f;
    } else if (pForgetingScale && Failed(activation->GetActivationScale(a, &scale))) {
      scale = 0;
    }
    if (pfActivation) *pfActivation = a;
    if (pForgetingScale) *pForgetingScale = scale;
  }
  return S_OK;
}

HRESULT FileRanking::DeleteRank(const std::string* bstrFile) {
  if (!bstrFile) return E_INVALIDARG;
  std::unique_ptr<PropertyStorage> storage;
  if (const HRESULT hr = PropertyStorage::Open(
          *bstrFile, PropertyStorage::Mode::ReadWriteExclusive, storage);
      Failed(hr)) {
    return hr;
  }
  const HRESULT hr = storage->Remove(ranking::kRankingFmtid);
  return hr == STG_E_FILENOTFOUND ? S_OK : hr;
}

HRESULT FileRanking::get_CurrentScope(ULONG* pVal) {
  if (!pVal) return E_INVALIDARG;
  return BaseActivation(ctx_).ComputeScope(*pVal);
}

HRESULT FileRanking::PreRank(const std::string* bstrFile, ULONG* pulScope,
                             std::string* pbstrSearchKey, VARIANT_BOOL* pSetNotFound) {
  if (pSetNotFound) *pSetNotFound = VARIANT_FALSE;
  ULONG scope = 0;
  if (const HRESULT hr = BaseActivation(ctx_).ComputeScope(scope); Failed(hr)) return hr;
  if (pulScope) *pulScope = scope;
  if (!bstrFile || !pbstrSearchKey || NoSearchKeys()) return S_OK;

  std::unique_ptr<PropertyStorage> storage;
  if (!IsRankableFile(*bstrFile) ||
      Failed(PropertyStorage::Open(*bstrFile, PropertyStorage::Mode::Read, storage))) {
    return S_FALSE;
  }
  std::optional<Guid> key;
  platform::PropertySet ps;
  const HRESULT readHr = storage->Read(ranking::kRankingFmtid, ps);
  if (readHr == STG_E_FILENOTFOUND && pSetNotFound) {
    *pSetNotFound = VARIANT_TRUE;
  } else if (Succeeded(readHr)) {
    // Only the key and the scope matter here; the rest of the record may be damaged.
    auto k = ps.values.find(ranking::kPidSearchKey);
    auto s = ps.values.find(ranking::kPidScope);
    if (k != ps.values.end() && k->second.vt == platform::VT_CLSID && s != ps.values.end() &&
        s->second.vt == platform::VT_UI4 && s->second.ui4 == scope) {
      key = k->second.clsid;
    }
  }
  if (!key) {
    Guid fresh;
    if (Failed(NewGuid(fresh))) {
      if (pbstrSearchKey->empty()) return S_FALSE;
    } else {
      key = fresh;
    }
  }
  if (pbstrSearchKey->empty() && key) *pbstrSearchKey = FormatGuid(*key);
  return S_OK;
}

void RegisterRankingClasses(Context& ctx) {
  RegisterBaseActivation(ctx);
  // Each caller makes a ranking object for the visit in hand; what they learn of the
  // settings and the mounts is kept for all of them.
  auto caches = std::make_shared<ranking::RankingCaches>(ctx.registry, ctx.clock);
  ctx.classes.Register(CLSID_FileRanking, kProgIdFileRanking, kProgIdFileRankingIndependent,
                       [&ctx, caches](std::shared_ptr<platform::ComObject>& out) {
                         out = std::make_shared<FileRanking>(ctx, caches);
                         return S_OK;
                       });
}

}  // namespace qv
