#include "mail/QvOutlookAddIn/msg_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "common/utf.h"
#include "context/event_report.h"
#include "mail/QvOutlookAddIn/addin_events.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookAddIn/store_shortcut.h"

namespace qv::mail::addin {
namespace {

namespace fs = std::filesystem;
namespace pm = platform::mail;
using platform::Hive;
using platform::RegType;
using platform::RegValue;

// Folders deeper than this are taken as a loop in the store's folder tree.
constexpr int kMaxFolderDepth = 64;
// Item keys decoded from shortcut names: one byte more than a shortcut may carry, so an
// over-long name is seen as such rather than cut.
constexpr std::size_t kMaxDecodedKeyBytes = 64;


std::vector<std::uint8_t> FileTimeBytes(FileTime t) {
  std::vector<std::uint8_t> b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(t >> (8 * i));
  return b;
}

FileTime FileTimeFromBytes(std::span<const std::uint8_t> b) {
  FileTime t = 0;
  for (int i = 7; i >= 0; --i) t = (t << 8) | b[i];
  return t;
}

std::vector<std::string> SortedEntries(const fs::path& dir, bool wantDirs, std::error_code& ec) {
  std::vector<std::string> names;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    std::error_code typeEc;
    const bool isDir = it->symlink_status(typeEc).type() == fs::file_type::directory;
    if (!typeEc && isDir == wantDirs) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::uint32_t StoreNumber(std::span<const std::uint8_t> id) {
  std::uint32_t h = 0;
  for (const std::uint8_t b : id) h ^= (h << 5) + (h >> 2) + b;
  return h;
}

KivMsgStore::KivMsgStore(const Context& ctx, pm::MessageStore& store, fs::path shortcutDirectory,
                         std::chrono::milliseconds resyncPeriod, WellKnownFolderNames names)
    : ctx_(ctx),
      store_(store),
      directory_(std::move(shortcutDirectory)),
      resyncPeriod_(resyncPeriod),
      names_(std::move(names)),
      number_(StoreNumber(store.storeEntryId())) {}

std::string KivMsgStore::registryKey() const {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", number_);
  return std::string(kPstsKey) + "\\" + hex;
}

HRESULT KivMsgStore::OnConnection() {
  const std::string key = registryKey();
  auto& reg = ctx_.registry;
  std::int32_t rc = reg.SetValue(Hive::CurrentUser, key, "", RegValue::Sz(displayName()));
  if (rc == 0) rc = reg.SetValue(Hive::CurrentUser, key, kPathValue, RegValue::Sz(directory_.string()));
  HRESULT hr = RefreshTracking();
  dirSyncDue_ = WalkDue(kDirSyncValue, kDirSyncCompletedValue);
  storeSyncDue_ = WalkDue(kPstSyncValue, kPstSyncCompletedValue);
  if (rc != 0) return HresultFromWin32(rc);
  return hr;
}

HRESULT KivMsgStore::RefreshTracking() {
  const HRESULT hr = ReadSettings();
  FindTrackedFolders();
  return hr;
}

HRESULT KivMsgStore::ReadSettings() {
  auto& reg = ctx_.registry;
  HRESULT result = S_OK;
  // The store's own value, else the PSTs key's, else the default; a missing value or one of
  // another type passes on silently, any other failure is reported and passes on too.
  for (const std::string& key : {registryKey(), std::string(kPstsKey)}) {
    RegValue v;
    const std::int32_t rc = reg.GetValue(Hive::CurrentUser, key, kSettingsValue, v);
    if (rc == 0 && v.type == RegType::Dword) {
      settings_ = v.dword;
      return result;
    }
    if (rc != 0 && rc != win32::ERROR_FILE_NOT_FOUND) {
      result = HresultFromWin32(rc);
      ReportItemError(ctx_, kAddInCategory, kEventSettingsUnreadable, displayName(), result);
    }
  }
  settings_ = kDefaultStoreSettings;
  return result;
}

void KivMsgStore::FindTrackedFolders() {
  using FT = pm::FolderType;
  tracked_.clear();
  const std::string name = displayName();
  auto add = [&](FT type, std::uint32_t eventId) {
    pm::EntryId id;
    const HRESULT hr = store_.DefaultFolder(type, id);
    if (Succeeded(hr) && !id.empty()) {
      tracked_.push_back({std::move(id), type});
    } else if (Failed(hr) && hr != pm::MAPI_E_NOT_FOUND) {
      ReportItemError(ctx_, kAddInCategory, eventId, name, hr);
    }
  };
  const std::uint32_t s = settings_;

  pm::EntryId sent;
  const HRESULT sentHr = store_.DefaultFolder(FT::SentMail, sent);
  if (sentHr == pm::MAPI_E_NOT_FOUND) {
    // A store that does not say which folder is which: its top folders by their names.
    std::vector<pm::Folder> all;
    if (HRESULT hr = store_.Folders(all); Failed(hr)) {
      ReportItemError(ctx_, kAddInCategory, kEventFolderIdFailed, name, hr);
      return;
    }
    auto byName = [&](std::uint32_t bit, const std::string& folderName, FT type) {
      if ((s & bit) == 0) return;
      for (const pm::Folder& f : all) {
        if (f.parent.empty() && EqualsNoCase(f.displayName, folderName)) {
          tracked_.push_back({f.id, type});
          return;
        }
      }
    };
    byName(0x001, names_.inbox, FT::Inbox);
    byName(0x002, names_.sentItems, FT::SentMail);
    byName(0x010, names_.calendar, FT::Calendar);
    byName(0x040, names_.journal, FT::Journal);
    byName(0x100, names_.tasks, FT::Tasks);
    return;
  }

  if (s & 0x001) add(FT::Inbox, kEventReceiveFolderFailed);
  if (s & 0x002) {
    if (Succeeded(sentHr) && !sent.empty()) {
      tracked_.push_back({std::move(sent), FT::SentMail});
    } else if (Failed(sentHr)) {
      ReportItemError(ctx_, kAddInCategory, kEventFolderIdFailed, name, sentHr);
    }
    add(FT::Outbox, kEventFolderIdFailed);
  }
  if (s & 0x004) add(FT::DeletedItems, kEventFolderIdFailed);
  if (s > kRootFolderSettings) {
    if (s & 0x010) add(FT::Calendar, kEventRootFolderIdFailed);
    if (s & 0x020) add(FT::Contacts, kEventRootFolderIdFailed);
    if (s & 0x040) add(FT::Journal, kEventRootFolderIdFailed);
    if (s & 0x080) add(FT::Notes, kEventRootFolderIdFailed);
    if (s & 0x100) add(FT::Tasks, kEventRootFolderIdFailed);
    if (s & 0x200) add(FT::Drafts, kEventRootFolderIdFailed);
  }
}

bool KivMsgStore::IsEntryId(std::span<const std::uint8_t> storeEntryId) const {
  const pm::EntryId& own = store_.storeEntryId();
  return !own.empty() && std::equal(own.begin(), own.end(), storeEntryId.begin(), storeEntryId.end());
}

const TrackedFolder* KivMsgStore::TrackedRootOf(const pm::EntryId& folder,
                                                const std::vector<pm::Folder>& all) const {
  pm::EntryId current = folder;
  for (int depth = 0; depth < kMaxFolderDepth && !current.empty(); ++depth) {
    for (const TrackedFolder& t : tracked_) {
      if (t.id == current) return &t;
    }
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const pm::Folder& f) { return f.id == current; });
    if (it == all.end()) return nullptr;
    current = it->parent;
  }
  return nullptr;
}

HRESULT KivMsgStore::IsTracked(std::span<const std::uint8_t> entryId, pm::FolderType& type,
                               std::string& parentFolder) const {
  type = pm::FolderType::None;
  parentFolder.clear();
  pm::Message m;
  if (HRESULT hr = store_.OpenMessage(entryId, m); Failed(hr)) return hr;
  if (tracked_.empty()) return S_FALSE;
  std::vector<pm::Folder> all;
  if (HRESULT hr = store_.Folders(all); Failed(hr)) return hr;
  const TrackedFolder* root = TrackedRootOf(m.folderId, all);
  if (root == nullptr) return S_FALSE;
  type = root->type;
  for (const pm::Folder& f : all) {
    if (f.id == m.folderId) parentFolder = f.displayName;
  }
  return S_OK;
}

void KivMsgStore::ItemTimes(std::span<const std::uint8_t> entryId, FileTime& created,
                            FileTime& lastWrite) const {
  created = lastWrite = 0;
  pm::Message m;
  if (Failed(store_.OpenMessage(entryId, m)) || !m.deliveryTime) return;
  if (const auto ft = DateToFileTime(*m.deliveryTime)) created = lastWrite = *ft;
}

HRESULT KivMsgStore::SetPending(std::span<const std::uint8_t> entryId, const PendingRecord& record) {
  ShortcutRequest r;
  r.directory = directory_;
  r.key = entryId;
  ItemTimes(entryId, r.created, r.lastWrite);
  r.pending = &record;
  return WriteShortcut(ctx_, &store_, r);
}

HRESULT KivMsgStore::ApplyPending(std::span<const std::uint8_t> entryId) {
  ShortcutRequest r;
  r.directory = directory_;
  r.key = entryId;
  ItemTimes(entryId, r.created, r.lastWrite);
  r.apply = true;
  return WriteShortcut(ctx_, &store_, r);
}

bool KivMsgStore::WalkDue(std::string_view syncValue, std::string_view completedValue) const {
  const std::string key = registryKey();
  RegValue v;
  if (ctx_.registry.GetValue(Hive::CurrentUser, key, syncValue, v) == 0) return true;
  if (ctx_.registry.GetValue(Hive::CurrentUser, key, completedValue, v) != 0 ||
      v.type != RegType::Binary || v.binary.size() != 8) {
    return true;
  }
  if (resyncPeriod_.count() <= 0) return true;
  const FileTime completed = FileTimeFromBytes(v.binary);
  const auto ticks = static_cast<std::uint64_t>(resyncPeriod_.count()) * 10'000;
  // A completion time so far ahead that adding the period wraps counts as due.
  if (completed > UINT64_MAX - ticks) return true;
  return completed + ticks <= ctx_.clock.Now();
}

void KivMsgStore::SetCompleted(std::string_view completedValue) {
  ctx_.registry.SetValue(Hive::CurrentUser, registryKey(), completedValue,
                         RegValue::Binary(FileTimeBytes(ctx_.clock.Now())));
}

HRESULT KivMsgStore::ResyncDir(bool force, std::size_t budget) {
  auto& reg = ctx_.registry;
  const std::string key = registryKey();
  if (force) reg.DeleteValue(Hive::CurrentUser, key, kDirSyncValue);

  std::string resumeBucket, resumeFile;
  if (RegValue v; reg.GetValue(Hive::CurrentUser, key, kDirSyncValue, v) == 0 &&
                  v.type == RegType::Sz) {
    const auto slash = v.text.find('\\');
    resumeBucket = v.text.substr(0, slash);
    if (slash != std::string::npos) resumeFile = v.text.substr(slash + 1);
  }

  std::error_code ec;
  std::vector<std::string> buckets;
  if (!directory_.empty() && fs::exists(directory_, ec)) {
    buckets = SortedEntries(directory_, true, ec);
    if (ec) ReportItemError(ctx_, kAddInCategory, kEventDirWalkFailed, directory_.string(),
                            HresultFromErrno(ec.value()));
  }
  std::size_t done = 0;
  for (const std::string& bucket : buckets) {
    if (!resumeBucket.empty() && bucket < resumeBucket) continue;
    const fs::path folder = directory_ / bucket;
    std::error_code listEc;
    const std::vector<std::string> files = SortedEntries(folder, false, listEc);
    if (listEc) {
      ReportItemError(ctx_, kAddInCategory, kEventDirWalkFailed, folder.string(),
                      HresultFromErrno(listEc.value()));
    }
    for (const std::string& file : files) {
      if (bucket == resumeBucket && !resumeFile.empty() && file <= resumeFile) continue;
      if (done == budget) {
        // The walk stands after the last file it looked at.
        if (done > 0) {
          reg.SetValue(Hive::CurrentUser, key, kDirSyncValue,
                       RegValue::Sz(resumeBucket + "\\" + resumeFile));
        }
        return S_FALSE;
      }
      ++done;
      resumeBucket = bucket;
      resumeFile = file;
      const auto ext = file.find(kShortcutExtension);
      if (ext == std::string::npos) continue;
      std::vector<std::uint8_t> itemKey;
      if (HRESULT hr = DecodeHex(std::string_view(file).substr(0, ext), kMaxDecodedKeyBytes, itemKey);
          Failed(hr) || itemKey.empty()) {
        ReportItemError(ctx_, kAddInCategory, kEventDirWalkFailed, (folder / file).string(),
                        Failed(hr) ? hr : E_INVALIDARG);
        continue;
      }
      pm::FolderType type;
      std::string parent;
      if (IsTracked(itemKey, type, parent) != S_OK) {
        const fs::path path = folder / file;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
          ReportItemError(ctx_, kAddInCategory, kEventDirWalkDeleteFailed, path.string(),
                          HresultFromErrno(errno));
        }
        continue;
      }
      // A tracked item's parked record goes into the item on the way.
      ApplyPending(itemKey);
    }
  }
  reg.DeleteValue(Hive::CurrentUser, key, kDirSyncValue);
  SetCompleted(kDirSyncCompletedValue);
  dirSyncDue_ = false;
  return S_OK;
}

HRESULT KivMsgStore::ResyncPST(bool force, std::size_t budget) {
  auto& reg = ctx_.registry;
  const std::string key = registryKey();
  if (force) {
    for (auto v : {kPstSyncValue, kPstSyncFolderValue, kPstSyncItemValue}) {
      reg.DeleteValue(Hive::CurrentUser, key, v);
    }
  }
  std::vector<pm::Folder> all;
  if (HRESULT hr = store_.Folders(all); Failed(hr)) return hr;
  // Every folder whose items are tracked, in the store's order.
  std::vector<const pm::Folder*> walk;
  for (const pm::Folder& f : all) {
    if (TrackedRootOf(f.id, all) != nullptr) walk.push_back(&f);
  }

  std::size_t index = 0;
  std::string resumeItem;
  if (RegValue v; reg.GetValue(Hive::CurrentUser, key, kPstSyncValue, v) == 0 &&
                  v.type == RegType::Dword) {
    index = v.dword;
    RegValue fld, item;
    const bool haveFolder = reg.GetValue(Hive::CurrentUser, key, kPstSyncFolderValue, fld) == 0 &&
                            fld.type == RegType::Sz;
    // The folders may have changed since: find the one the walk stood at by its id.
    if (haveFolder && (index >= walk.size() || HexUpper(walk[index]->id) != fld.text)) {
      const auto it = std::find_if(walk.begin(), walk.end(),
                                   [&](const pm::Folder* f) { return HexUpper(f->id) == fld.text; });
      index = it == walk.end() ? 0 : static_cast<std::size_t>(it - walk.begin());
    }
    if (reg.GetValue(Hive::CurrentUser, key, kPstSyncItemValue, item) == 0 &&
        item.type == RegType::Sz) {
      resumeItem = item.text;
    }
  }

  std::size_t done = 0;
  for (; index < walk.size(); ++index) {
    const pm::Folder& folder = *walk[index];
    std::vector<pm::EntryId> items;
    if (Failed(store_.Messages(folder.id, items))) continue;
    std::size_t start = 0;
    if (!resumeItem.empty()) {
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (HexUpper(items[i]) == resumeItem) start = i + 1;
      }
      resumeItem.clear();
    }
    for (std::size_t i = start; i < items.size(); ++i) {
      if (done == budget) {
        reg.SetValue(Hive::CurrentUser, key, kPstSyncValue, RegValue::Dword(static_cast<std::uint32_t>(index)));
        reg.SetValue(Hive::CurrentUser, key, kPstSyncFolderValue, RegValue::Sz(HexUpper(folder.id)));
        if (i > 0) {
          reg.SetValue(Hive::CurrentUser, key, kPstSyncItemValue, RegValue::Sz(HexUpper(items[i - 1])));
        } else {
          reg.DeleteValue(Hive::CurrentUser, key, kPstSyncItemValue);
        }
        return S_FALSE;
      }
      ++done;
      ShortcutRequest r;
      r.directory = directory_;
      r.key = items[i];
      ItemTimes(items[i], r.created, r.lastWrite);
      r.apply = true;
      WriteShortcut(ctx_, &store_, r);
    }
  }
  for (auto v : {kPstSyncValue, kPstSyncFolderValue, kPstSyncItemValue}) {
    reg.DeleteValue(Hive::CurrentUser, key, v);
  }
  SetCompleted(kPstSyncCompletedValue);
  storeSyncDue_ = false;
  return S_OK;
}

HRESULT KivMsgStore::OnIdleDir(std::size_t budget) {
  return dirSyncDue_ ? ResyncDir(false, budget) : S_OK;
}

HRESULT KivMsgStore::OnIdlePST(std::size_t budget) {
  return storeSyncDue_ ? ResyncPST(false, budget) : S_OK;
}

}  // namespace qv::mail::addin
