#include "provider/journal/journal_entry.h"

#include <limits>

#include "provider/ranking/ranking.h"

namespace qv::journal {
namespace {

using platform::PropVariant;
using platform::PropertySet;

void PutString(PropertySet& set, std::uint32_t pid, const BstrIn& value) {
  if (value) set.values[pid] = PropVariant::Lpwstr(std::string(*value));
}

const std::string* StringOf(const PropertySet& set, std::uint32_t pid) {
  const auto it = set.values.find(pid);
  if (it == set.values.end()) return nullptr;
  const PropVariant& v = it->second;
  return v.vt == platform::VT_LPWSTR || v.vt == platform::VT_LPSTR ? &v.str : nullptr;
}

std::optional<std::uint32_t> Ui4Of(const PropertySet& set, std::uint32_t pid) {
  const auto it = set.values.find(pid);
  if (it == set.values.end() || it->second.vt != platform::VT_UI4) return std::nullopt;
  return it->second.ui4;
}

std::optional<DATE> DateOf(const PropertySet& set, std::uint32_t pid) {
  const auto it = set.values.find(pid);
  if (it == set.values.end() || it->second.vt != platform::VT_DATE) return std::nullopt;
  return it->second.date;
}

}  // namespace

PropertySet MakeEntrySet(const Guid& entry, const EntryFields& f) {
  PropertySet set;
  set.fmtid = entry;
  set.clsid = entry;
  set.codePage = platform::kCodePageUnicode;
  set.values[kPidUrl] = PropVariant::Lpwstr(std::string(f.url.value_or("")));
  set.values[kPidType] = PropVariant::UI4(f.type);
  set.values[kPidPst] = PropVariant::UI4(f.pst);
  set.values[kPidStart] = PropVariant::Date(f.start);
  set.values[kPidEnd] = PropVariant::Date(f.end);
  // A visit always took some time; 0 would read as "no working time recorded".
  set.values[kPidWorkingTime] = PropVariant::UI4(f.workingTime == 0 ? 1 : f.workingTime);
  set.values[kPidActiveTime] = PropVariant::UI4(f.activeTime);
  PutString(set, kPidCachedUrl, f.cachedUrl);
  PutString(set, kPidSearchKey, f.searchKey);
  PutString(set, kPidParentFolder, f.parentFolder);
  PutString(set, kPidPrefix, f.prefix);
  PutString(set, kPidTitle, f.title);
  if (IsMailType(f.type)) {
    const BstrIn& correspondent = (f.messageFlags & kMessageFlagFromMe) ? f.to : f.from;
    if (correspondent && !correspondent->empty()) PutString(set, kPidCorrespondent, correspondent);
    set.values[kPidMessageFlags] = PropVariant::UI4(f.messageFlags);
  }
  PutString(set, kPidOtherInfo, f.otherInfo);
  return set;
}

SearchContents SearchContentsOf(const PropertySet& entry) {
  SearchContents out;
  for (std::uint32_t pid :
       {kPidUrl, kPidSearchKey, kPidPrefix, kPidTitle, kPidCorrespondent, kPidOtherInfo}) {
    if (const std::string* s = StringOf(entry, pid)) {
      out.text += *s;
      // The prefix runs into the subject that follows it.
      out.text += pid == kPidPrefix ? " " : " \r\n";
    }
  }

  const auto type = Ui4Of(entry, kPidType);
  if (type && IsMailType(*type)) {
    if (const std::string* s = StringOf(entry, kPidPrefix)) out.description += *s;
    if (const std::string* s = StringOf(entry, kPidTitle)) out.description += *s;
  } else if (const std::string* s = StringOf(entry, kPidUrl)) {
    out.description = *s;
  }

  out.pst = Ui4Of(entry, kPidPst);
  if (const auto working = Ui4Of(entry, kPidWorkingTime)) {
    // Saturate rather than wrap: a wrapped product would read as little attention.
    const std::uint64_t units = std::uint64_t{*working} * kAttentionUnitsPerSecond;
    out.attention = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(units, std::numeric_limits<std::uint32_t>::max()));
  }
  const auto start = DateOf(entry, kPidStart);
  const auto end = DateOf(entry, kPidEnd);
  if (start && end) {
    std::int32_t seconds = 0;
    out.duration = Succeeded(ranking::ElapsedSeconds(*start, *end, seconds))
                       ? static_cast<std::uint32_t>(seconds)
                       : 0u;
  }
  return out;
}

}  // namespace qv::journal
