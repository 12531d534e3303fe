#include "client/journal_view.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <set>
#include <string_view>
#include <unistd.h>

#include "client/result_columns.h"
#include "context/registry_values.h"
#include "platform/propset/property_set.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal_entry.h"
#include "provider/journal/journal_notification.h"
#include "provider/journal/journal_paths.h"

namespace qv::client {
namespace {

namespace jn = qv::journal;
using platform::PropertySet;
using platform::PropVariant;


std::string Text(const PropertySet& set, std::uint32_t pid) {
  auto it = set.values.find(pid);
  if (it == set.values.end()) return {};
  const PropVariant& v = it->second;
  return v.vt == platform::VT_LPWSTR || v.vt == platform::VT_LPSTR ? v.str : std::string();
}

std::uint32_t Number(const PropertySet& set, std::uint32_t pid) {
  auto it = set.values.find(pid);
  if (it == set.values.end()) return 0;
  const PropVariant& v = it->second;
  if (v.vt == platform::VT_UI4) return v.ui4;
  if (v.vt == platform::VT_I4 && v.i4 >= 0) return static_cast<std::uint32_t>(v.i4);
  return 0;
}

DATE Date(const PropertySet& set, std::uint32_t pid) {
  auto it = set.values.find(pid);
  return it != set.values.end() && it->second.vt == platform::VT_DATE ? it->second.date : 0.0;
}

JournalViewEntry EntryOf(const PropertySet& set) {
  JournalViewEntry e;
  e.id = set.fmtid;
  e.url = Text(set, jn::kPidUrl);
  e.title = Text(set, jn::kPidTitle);
  e.parentFolder = Text(set, jn::kPidParentFolder);
  e.type = Number(set, jn::kPidType);
  e.start = Date(set, jn::kPidStart);
  e.end = Date(set, jn::kPidEnd);
  e.workingTime = Number(set, jn::kPidWorkingTime);
  e.activeTime = Number(set, jn::kPidActiveTime);
  e.searchKey = Text(set, jn::kPidSearchKey);
  return e;
}

bool MarkerExists(const std::filesystem::path& folder, const Guid& id) {
  return ::access((folder / jn::MarkerName(id)).c_str(), F_OK) == 0;
}

// The name the list shows: the title when there is one, else the last part of the URL.
std::string NameOf(const JournalViewEntry& e) {
  if (!e.title.empty()) return e.title;
  const auto slash = e.url.find_last_of("/\\");
  return slash == std::string::npos ? e.url : e.url.substr(slash + 1);
}

// Reads the day file's entries (all, or only `only`) in file order.
HRESULT ReadEntries(const std::filesystem::path& dayFile, const Guid* only,
                    std::vector<PropertySet>& out) {
  std::vector<std::uint8_t> image;
  if (const HRESULT hr = jn::ReadDayFileImage(dayFile, image); Failed(hr)) return hr;
  const HRESULT header = jn::CheckDayFileHeader(image);
  if (Failed(header)) return header;
  if (header == S_FALSE) return S_OK;
  jn::DayFileReader reader(image, jn::dayfile::kFileHeaderSize);
  jn::DayFileRecord record;
  while (reader.Next(record)) {
    PropertySet set;
    // A damaged record is skipped like the reader skips damage: the others are still shown.
    if (Failed(platform::ParsePropertySet(record.payload, set))) continue;
    if (only && set.fmtid != *only) continue;
    out.push_back(std::move(set));
  }
  return S_OK;
}

}  // namespace

std::string JournalKindText(std::uint32_t type) {
  static constexpr std::array<std::string_view, 6> kNames = {
      "File", "Web page", "Mail message", "Appointment", "Contact", "Task"};
  return type < kNames.size() ? std::string(kNames[type]) : std::to_string(type);
}

bool ClickJournalColumn(JournalSort& sort, int column) {
  if (column < 0 || column >= kJournalColumnCount) return false;
  if (sort.column == column) {
    sort.ascending = !sort.ascending;
  } else {
    sort.column = column;
    sort.ascending = column <= kJournalColumnKind;
  }
  return true;
}

JournalSort LoadJournalSort(const platform::Registry& reg) {
  using platform::Hive;
  constexpr std::uint32_t kMissing = 0xFFFFFFFF;
  JournalSort sort;
  const std::uint32_t column = ReadDword(reg, Hive::CurrentUser, kViewKey,
                                         std::string("sort") + std::string(kJournalListSuffix),
                                         kMissing, 0, kJournalColumnCount - 1);
  if (column != kMissing) {
    sort.column = static_cast<int>(column);
    sort.ascending = sort.column <= kJournalColumnKind;
  }
  const std::uint32_t dir = ReadDword(reg, Hive::CurrentUser, kViewKey,
                                      std::string("sortdir") + std::string(kJournalListSuffix),
                                      kMissing, 0, 1);
  if (dir != kMissing) sort.ascending = dir == 1;
  return sort;
}

std::int32_t SaveJournalSort(platform::Registry& reg, const JournalSort& sort) {
  using platform::Hive;
  using platform::RegValue;
  if (auto rc = reg.SetValue(Hive::CurrentUser, kViewKey,
                             std::string("sort") + std::string(kJournalListSuffix),
                             RegValue::Dword(static_cast<std::uint32_t>(sort.column)))) {
    return rc;
  }
  return reg.SetValue(Hive::CurrentUser, kViewKey,
                      std::string("sortdir") + std::string(kJournalListSuffix),
                      RegValue::Dword(sort.ascending ? 1u : 0u));
}

JournalViewModel::JournalViewModel(std::filesystem::path journalRoot)
    : root_(std::move(journalRoot)) {}

HRESULT JournalViewModel::ReadDay(const CivilDay& day, std::vector<JournalViewEntry>& out) const {
  const auto folder = jn::DayFolder(root_, day);
  std::vector<PropertySet> sets;
  const HRESULT hr = ReadEntries(folder / jn::kDayFileName, nullptr, sets);
  if (hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND) return S_OK;
  if (Failed(hr)) return hr;
  std::set<Guid> seen;
  for (const auto& set : sets) {
    if (!MarkerExists(folder, set.fmtid) || !seen.insert(set.fmtid).second) continue;
    out.push_back(EntryOf(set));
  }
  return S_OK;
}

HRESULT JournalViewModel::ShowDay(const CivilDay& day,
                                  const std::function<void(const std::string&)>& beforeRead) {
  {
    std::lock_guard lock(mutex_);
    day_ = day;
    shown_ = true;
    entries_.clear();
  }
  if (beforeRead) beforeRead(jn::DayKey(day));
  std::vector<JournalViewEntry> read;
  const HRESULT hr = ReadDay(day, read);
  {
    std::lock_guard lock(mutex_);
    if (!(day_.year == day.year && day_.month == day.month && day_.day == day.day)) return hr;
    if (Succeeded(hr)) {
      // Entries announced while the file was read are in `read` too, or are newer still.
      for (auto& e : entries_) {
        const bool listed = std::any_of(read.begin(), read.end(),
                                        [&](const JournalViewEntry& r) { return r.id == e.id; });
        if (!listed) read.push_back(std::move(e));
      }
      entries_ = std::move(read);
    } else {
      entries_.clear();
    }
    SortLocked();
  }
  Changed();
  return hr;
}

CivilDay JournalViewModel::day() const {
  std::lock_guard lock(mutex_);
  return day_;
}

std::string JournalViewModel::dayKey() const { return jn::DayKey(day()); }

HRESULT JournalViewModel::OnNotification(std::span<const std::uint8_t> block) {
  const auto n = jn::DecodeNotification(block);
  if (!n) return E_INVALIDARG;
  const CivilDay day = jn::DayOf(n->localStart);
  {
    std::lock_guard lock(mutex_);
    if (!shown_ || day.year != day_.year || day.month != day_.month || day.day != day_.day) {
      return S_FALSE;
    }
    for (const auto& e : entries_) {
      if (e.id == n->entry) return S_FALSE;
    }
  }
  const auto folder = jn::DayFolder(root_, day);
  std::vector<PropertySet> sets;
  if (const HRESULT hr = ReadEntries(folder / jn::kDayFileName, &n->entry, sets); Failed(hr)) {
    return hr;
  }
  if (sets.empty() || !MarkerExists(folder, n->entry)) return S_FALSE;
  {
    std::lock_guard lock(mutex_);
    if (day.year != day_.year || day.month != day_.month || day.day != day_.day) return S_FALSE;
    for (const auto& e : entries_) {
      if (e.id == n->entry) return S_FALSE;
    }
    entries_.push_back(EntryOf(sets.front()));
    SortLocked();
  }
  Changed();
  return S_OK;
}

HRESULT JournalViewModel::DeleteEntries(std::span<const Guid> chosen) {
  const CivilDay day = this->day();
  const auto folder = jn::DayFolder(root_, day);
  std::vector<PropertySet> sets;
  HRESULT result = ReadEntries(folder / jn::kDayFileName, nullptr, sets);
  if (result == STG_E_FILENOTFOUND || result == STG_E_PATHNOTFOUND) result = S_OK;
  if (Succeeded(result)) {
    const std::set<Guid> wanted(chosen.begin(), chosen.end());
    for (const auto& set : sets) {
      if (!wanted.contains(set.fmtid)) continue;
      const auto marker = folder / jn::MarkerName(set.fmtid);
      if (::unlink(marker.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        result = HresultFromErrno(errno);
        break;
      }
    }
  }
  const HRESULT shown = ShowDay(day);
  return Failed(result) ? result : shown;
}

std::vector<JournalViewEntry> JournalViewModel::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

JournalSort JournalViewModel::sort() const {
  std::lock_guard lock(mutex_);
  return sort_;
}

void JournalViewModel::SetSort(const JournalSort& sort) {
  {
    std::lock_guard lock(mutex_);
    sort_ = sort;
    SortLocked();
  }
  Changed();
}

void JournalViewModel::SetOnChange(std::function<void()> onChange) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(onChange);
}

void JournalViewModel::Changed() {
  std::function<void()> f;
  {
    std::lock_guard lock(mutex_);
    f = onChange_;
  }
  if (f) f();
}

void JournalViewModel::SortLocked() {
  const JournalSort s = sort_;
  auto less = [s](const JournalViewEntry& a, const JournalViewEntry& b) {
    switch (s.column) {
      case kJournalColumnName: return NameOf(a) < NameOf(b);
      case kJournalColumnLocation: return a.parentFolder < b.parentFolder;
      case kJournalColumnKind: return a.type < b.type;
      case kJournalColumnWorkingTime: return a.workingTime < b.workingTime;
      case kJournalColumnActiveTime: return a.activeTime < b.activeTime;
      default: return a.start < b.start;
    }
  };
  std::stable_sort(entries_.begin(), entries_.end(),
                   [&](const JournalViewEntry& a, const JournalViewEntry& b) {
                     return s.ascending ? less(a, b) : less(b, a);
                   });
}

HRESULT JournalViewListener::Create(platform::WindowStation& station, platform::MessageLoop& loop,
                                    JournalViewModel& model,
                                    std::unique_ptr<JournalViewListener>& out) {
  auto listener = std::make_unique<JournalViewListener>(model);
  JournalViewModel* m = &model;
  const HRESULT hr = station.CreateWindow(
      loop, {std::string(jn::kNotificationWindowClass), model.dayKey(), true},
      [m](const platform::Message& msg) -> platform::LRESULT {
        if (msg.message != platform::WM_COPYDATA || !msg.copyData) return 0;
        return Succeeded(m->OnNotification(msg.copyData->bytes)) ? 1 : 0;
      },
      listener->window_);
  if (Failed(hr)) return hr;
  out = std::move(listener);
  return S_OK;
}

HRESULT JournalViewListener::ShowDay(const CivilDay& day) {
  return model_.ShowDay(day, [this](const std::string& key) { window_->SetTitle(key); });
}

}  // namespace qv::client
