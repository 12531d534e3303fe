#include "tracer/recording/visit_writers.h"

#include <limits.h>

#include <filesystem>

#include "context/event_report.h"
#include "common/utf.h"
#include "interfaces/ikiv_file_ranking.h"
#include "interfaces/ikiv_urlmon.h"
#include "platform/urlcache/url.h"
#include "provider/journal/journal.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/file_ranking.h"
#include "tracer/recording/recording_constants.h"
#include "tracer/recording/visit_units.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {
namespace {

using journal::BstrIn;

std::string_view EventItem(const Visit& v) {
  return v.identifier.empty() ? std::string_view("Unknown") : std::string_view(v.identifier);
}

// A visit that could not be journaled or ranked is worth a warning, not an error: the tracer
// goes on recording the next one.
void Report(const Context& ctx, std::uint32_t id, const Visit& v, HRESULT hr) {
  ReportItemWarning(ctx, kCategoryTracer, id, EventItem(v), hr);
}

template <class I>
HRESULT Create(const Context& ctx, const Guid& clsid, std::shared_ptr<I>& out) {
  return ctx.classes.CreateInstance(clsid, out);
}

// Stored seconds as the tenths a replayed triple is given: `factor` × the value, 10 for 0.
std::uint32_t ReplayTenths(std::uint32_t seconds, std::uint32_t factor) {
  const std::uint64_t v = static_cast<std::uint64_t>(seconds) * factor;
  return v == 0 ? 10 : Clamp32(v);
}

// Rebuilds a ranking record that vanished during the visit from the snapshot taken when it
// opened: first the blended triple, then the last visit.
void ReplaySnapshot(const Context& ctx, IKivFileRanking& fr, const Visit& v,
                    const std::string& path, std::uint32_t scope, const std::string& key) {
  const RankingSnapshot& s = v.snapshot;
  const std::string* keyArg = key.empty() ? nullptr : &key;
  bool blendedDone = false;
  if (s.blendedEnd != 0.0 && s.blendedN != 0 && s.blendedT != 0) {
    // Seconds become days in floating point: an integer division would make every span
    // under a day zero, and the replay's start its end.
    const DATE start = s.blendedEnd - s.blendedT / kSecondsPerDay;
    if (!(start > 0.0)) {
      Report(ctx, kEventRankFailed, v, E_INVALIDARG);
    } else {
      const HRESULT hr = fr.UpdateRank(&path, s.blendedN, s.visits > 1 ? s.visits - 1 : 1, start,
                                       s.blendedEnd, ReplayTenths(s.workingTime, 5),
                                       ReplayTenths(s.activeTime, 5), scope, 0, keyArg);
      if (Succeeded(hr)) {
        blendedDone = true;
      } else {
        Report(ctx, kEventRankFailed, v, hr);
      }
    }
  }
  if (s.lastVisitEnd != 0.0 && s.lastVisitN != 0 && s.lastVisitT != 0) {
    const DATE start = s.lastVisitEnd - s.lastVisitT / kSecondsPerDay;
    if (!(start > 0.0)) {
      Report(ctx, kEventRankFailed, v, E_INVALIDARG);
      return;
    }
    const std::uint32_t factor = blendedDone ? 5 : 10;
    const std::uint32_t visits = blendedDone ? 1 : std::max<std::uint32_t>(s.visits, 1);
    const HRESULT hr = fr.UpdateRank(&path, s.lastVisitN, visits, start, s.lastVisitEnd,
                                     ReplayTenths(s.workingTime, factor),
                                     ReplayTenths(s.activeTime, factor), scope, 0, keyArg);
    if (Failed(hr)) Report(ctx, kEventRankFailed, v, hr);
  }
}

std::uint32_t MailEntryType(std::string_view itemType) {
  if (EqualsNoCase(itemType, "IPM.Appointment")) return 3;
  if (EqualsNoCase(itemType, "IPM.Contact")) return 4;
  if (EqualsNoCase(itemType, "IPM.Task")) return 5;
  return 2;
}

}  // namespace

std::string VisitPath(std::string_view identifier) {
  std::filesystem::path path;
  if (identifier.size() >= 5 && EqualsNoCase(identifier.substr(0, 5), "file:")) {
    if (Failed(platform::FileUrlToPath(identifier, path))) return {};
  } else if (!identifier.empty() && identifier.front() == '/') {
    path = std::string(identifier);
  } else {
    return {};
  }
  std::string s = path.string();
  // The platform's limit, not a fixed 260 characters; a longer path is refused, never cut.
  if (s.size() >= PATH_MAX || s.find('\0') != std::string::npos) return {};
  return s;
}

void TakeRankingSnapshot(const Context& ctx, Visit& v) {
  if (!v.tracked || v.snapshot.taken) return;
  const bool fileUrl = v.identifier.size() >= 5 && EqualsNoCase(v.identifier.substr(0, 5), "file:");
  if (v.kind != kKindDocument && !fileUrl) return;
  const std::string path = VisitPath(v.identifier);
  if (path.empty() || !IsRankableFile(path)) return;  // exists, local fixed disk, no program
  FileRanking fr(ctx);
  VARIANT_BOOL valid = VARIANT_FALSE;
  RankingSnapshot s;
  if (Failed(fr.GetRankingSet(&path, &valid, &s.searchKey, &s.scope, &s.workingTime,
                              &s.activeTime, &s.visits, &s.firstVisitStart, &s.lastVisitEnd,
                              &s.lastVisitT, &s.lastVisitN, &s.blendedEnd, &s.blendedT,
                              &s.blendedN)) ||
      valid != VARIANT_TRUE) {
    return;
  }
  s.taken = true;
  v.snapshot = s;
}

void FileWriter::Record(const Visit& v) {
  const Context& ctx = host_.ctx;
  const std::string path = VisitPath(v.identifier);
  if (path.empty()) return;
  RecordSwitches sw = SwitchesFromFlags(v.recordFlags);
  ApplyCategoryRules(ctx.registry, ItemCategory::Files, path, sw);
  if (!sw.AnyOn()) return;

  std::shared_ptr<IKivFileRanking> fr;
  if (const HRESULT hr = Create(ctx, CLSID_FileRanking, fr); Failed(hr)) {
    Report(ctx, kEventVisitNotRecorded, v, hr);
    return;
  }
  const DATE start = FileTimeToDate(v.start), end = FileTimeToDate(v.end);
  std::string key = v.snapshot.taken ? FormatGuid(v.snapshot.searchKey) : std::string();
  ULONG scope = 0;
  VARIANT_BOOL setNotFound = VARIANT_FALSE;
  if (const HRESULT hr = fr->PreRank(&path, &scope, &key, &setNotFound); Failed(hr)) {
    Report(ctx, kEventVisitNotRecorded, v, hr);
    return;
  }

  std::error_code ec;
  if (sw.journal && std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec)) {
    std::shared_ptr<journal::IKivJournal> j;
    HRESULT hr = Create(ctx, journal::CLSID_Journal, j);
    if (Succeeded(hr)) {
      hr = j->LogEntry(path, start, end, Seconds(v.workingTime), Seconds(v.activeTime),
                       journal::kTypeDocument, 0, std::nullopt,
                       key.empty() ? BstrIn() : BstrIn(key), std::nullopt, std::nullopt,
                       std::nullopt, std::nullopt, std::nullopt, 0, std::nullopt, nullptr);
    }
    if (Failed(hr)) Report(ctx, kEventJournalFailed, v, hr);
  }

  if (!sw.rank) return;
  if (v.snapshot.taken && setNotFound == VARIANT_TRUE) {
    ReplaySnapshot(ctx, *fr, v, path, scope, key);
  }
  const HRESULT hr = fr->UpdateRank(&path, Units(v), 1, start, end, Tenths(v.workingTime),
                                    Tenths(v.activeTime), scope, 0, key.empty() ? nullptr : &key);
  if (Failed(hr)) Report(ctx, kEventRankFailed, v, hr);
}

void WebWriter::Record(const Visit& v) {
  const Context& ctx = host_.ctx;
  const std::string& url = v.identifier;
  std::string scheme;
  const HRESULT schemeHr = platform::GetUrlScheme(url, scheme);
  if (Failed(schemeHr) || scheme.empty() || scheme.size() > kMaxSchemeChars) {
    // Without a scheme there is nothing to record: stop after saying so.
    Report(ctx, kEventVisitNotRecorded, v, E_FAIL);
    return;
  }
  if (EqualsNoCase(scheme, "https")) return;

  platform::HistoryEntry page;
  if (!history_) {
    Report(ctx, kEventVisitNotRecorded, v, HresultFromWin32(win32::ERROR_CANTOPEN));
    return;
  }
  if (const std::int32_t rc = history_->Query(url, page); rc != 0 || !page.topLevel) {
    Report(ctx, kEventVisitNotRecorded, v,
           HresultFromWin32(rc != 0 ? rc : win32::ERROR_FILE_NOT_FOUND));
    return;
  }
  RecordSwitches sw = SwitchesFromFlags(v.recordFlags);
  ApplyCategoryRules(ctx.registry, ItemCategory::WebPages, url, sw);
  if (!sw.AnyOn()) return;

  const DATE start = FileTimeToDate(v.start), end = FileTimeToDate(v.end);
  ULONG scope = 0;
  if (const HRESULT hr = BaseActivation(ctx).ComputeScope(scope); Failed(hr)) {
    Report(ctx, kEventVisitNotRecorded, v, hr);
    return;
  }

  std::string cachedUrl;
  if (sw.rank) {
    std::shared_ptr<IKivUrlmon> urlmon;
    std::string file;
    HRESULT hr = Create(ctx, CLSID_KivUrlmon, urlmon);
    if (Succeeded(hr)) {
      hr = urlmon->CreateShortcut(&url, FileTimeToDate(v.trackingStart), &page.title,
                                  &v.frameData, host_.stop, &file, &cachedUrl);
    }
    if (Failed(hr)) {
      Report(ctx, kEventRankFailed, v, hr);
    } else if (!cachedUrl.empty()) {
      std::shared_ptr<IKivFileRanking> fr;
      hr = Create(ctx, CLSID_FileRanking, fr);
      if (Succeeded(hr)) {
        hr = fr->UpdateRank(&file, Units(v), 1, start, end, Tenths(v.workingTime),
                            Tenths(v.activeTime), scope, 0, nullptr);
      }
      if (Failed(hr)) Report(ctx, kEventRankFailed, v, hr);
    }
  }

  if (sw.journal) {
    std::shared_ptr<journal::IKivJournal> j;
    HRESULT hr = Create(ctx, journal::CLSID_Journal, j);
    if (Succeeded(hr)) {
      hr = j->LogEntry(url, start, end, Seconds(v.workingTime), Seconds(v.activeTime),
                       journal::kTypeWebPage, 0,
                       cachedUrl.empty() ? BstrIn() : BstrIn(cachedUrl), std::nullopt,
                       std::nullopt, std::nullopt, page.title, std::nullopt, std::nullopt, 0,
                       std::nullopt, nullptr);
    }
    if (Failed(hr)) Report(ctx, kEventJournalFailed, v, hr);
  }
}

void MailWriter::Record(const Visit& v) {
  const Context& ctx = host_.ctx;
  RecordSwitches sw = SwitchesFromFlags(v.recordFlags);
  ApplyCategoryRules(ctx.registry, ItemCategory::Mail, v.identifier, sw);
  if (!sw.AnyOn()) return;
  if (v.identifier.size() >= kOutlookFolderPrefix.size() &&
      EqualsNoCase(std::string_view(v.identifier).substr(0, kOutlookFolderPrefix.size()),
                   kOutlookFolderPrefix)) {
    return;
  }
  const DATE start = FileTimeToDate(v.start), end = FileTimeToDate(v.end);
  if (!IsValidDate(start) || !IsValidDate(end)) {
    Report(ctx, kEventVisitNotRecorded, v, E_INVALIDARG);
    return;
  }
  std::shared_ptr<MailRankingObject> object;
  const HRESULT found =
      rot_ ? rot_->GetObject(std::string(kMailRankingRotPrefix) + logonId_, object)
           : MK_E_UNAVAILABLE;
  if (Failed(found)) {
    Report(ctx, kEventMailObjectFailed, v, found);
    return;
  }

  MailItemData item;
  const std::string id = v.identifier;
  HRESULT hr = CallWithLimit(
      [&](std::stop_token stop) {
        MailItemData got;
        const HRESULT r = object->Read(id, got, stop);
        if (Succeeded(r)) item = got;
        return r;
      },
      kMailCallLimit);
  if (Failed(hr)) {
    Report(ctx, kEventMailReadFailed, v, hr);
    return;
  }

  if (sw.journal) {
    std::shared_ptr<journal::IKivJournal> j;
    hr = Create(ctx, journal::CLSID_Journal, j);
    const std::string key = item.searchKey.IsNull() ? std::string() : FormatGuid(item.searchKey);
    if (Succeeded(hr)) {
      hr = j->LogEntry(v.identifier, start, end, Seconds(v.workingTime), Seconds(v.activeTime),
                       MailEntryType(item.itemType), item.pst, std::nullopt,
                       key.empty() ? BstrIn() : BstrIn(key), item.parentFolder, item.prefix,
                       item.subject, item.to, item.from, item.messageFlags, std::nullopt,
                       nullptr);
    }
    if (Failed(hr)) Report(ctx, kEventJournalFailed, v, hr);
  }

  if (item.state == 0 || !sw.rank) return;
  BaseActivation ba(ctx);
  ULONG scope = 0;
  ranking::RankingSet set = item.set;
  hr = ba.ComputeScope(scope);
  if (Succeeded(hr)) {
    hr = ba.CalcRankingSet(scope, Units(v), 1, start, end, Tenths(v.workingTime),
                           Tenths(v.activeTime), item.state == 2 ? VARIANT_FALSE : VARIANT_TRUE,
                           set);
  }
  if (Failed(hr)) {
    Report(ctx, kEventRankFailed, v, hr);
    return;
  }
  hr = CallWithLimit([&](std::stop_token stop) { return object->Write(id, set, stop); },
                     kMailCallLimit);
  if (Failed(hr)) Report(ctx, kEventMailWriteFailed, v, hr);
}

}  // namespace qv::tracer
