#pragma once
// The add-in's record of one tracked message store (KivMsgStore): its number, name and
// shortcut folder, the option bits that choose its tracked folders, its registry entry under
// the user's EMail\PSTs key, and the two resumable walks that keep the shortcut folder in step
// with the store: the directory walk drops shortcuts of items no longer tracked (and applies
// parked ranking records), the store walk makes a shortcut for every tracked item.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "context/context.h"
#include "mail/QvOutlookAddIn/pending_record.h"
#include "platform/mail/mail_store.h"

namespace qv::mail::addin {

inline constexpr std::string_view kPstsKey = "Software\\Quillon\\Vesper\\EMail\\PSTs";
inline constexpr std::string_view kSettingsValue = "Settings";
inline constexpr std::string_view kPathValue = "Path";
inline constexpr std::string_view kDirSyncValue = "DirSync";
inline constexpr std::string_view kDirSyncCompletedValue = "DirSyncCompleted";
inline constexpr std::string_view kPstSyncValue = "PSTSync";
inline constexpr std::string_view kPstSyncFolderValue = "PSTSyncFld";
inline constexpr std::string_view kPstSyncItemValue = "PSTSyncItem";
inline constexpr std::string_view kPstSyncCompletedValue = "PSTSyncCompleted";

// Inbox, Sent Items and Outbox, Calendar, Contacts, Notes and Tasks.
inline constexpr std::uint32_t kDefaultStoreSettings = 0x1B3;
// How long a finished walk stays good before it is due again.
inline constexpr std::chrono::milliseconds kDefaultResyncPeriod = std::chrono::hours(24);
// Settings above this choose folders found from the root folder's entries too.
inline constexpr std::uint32_t kRootFolderSettings = 15;

// The names of the well-known folders, for stores that do not say which is which.
struct WellKnownFolderNames {
  std::string inbox = "Inbox";
  std::string sentItems = "Sent Items";
  std::string calendar = "Calendar";
  std::string journal = "Journal";
  std::string tasks = "Tasks";
};

struct TrackedFolder {
  platform::mail::EntryId id;
  platform::mail::FolderType type = platform::mail::FolderType::None;
};

// A store's number: the shift-add-xor hash over its entry id. It names the store's registry
// key and, in hexadecimal, its shortcut folder under the mail scope root.
std::uint32_t StoreNumber(std::span<const std::uint8_t> storeEntryId);

class KivMsgStore {
 public:
  // `resyncPeriod` of 0 makes both walks due at every connection.
  KivMsgStore(const Context& ctx, platform::mail::MessageStore& store,
              std::filesystem::path shortcutDirectory, std::chrono::milliseconds resyncPeriod,
              WellKnownFolderNames names = {});

  // Writes the registry entry (display name and path), reads Settings, finds the tracked
  // folders and decides which walks are due.
  HRESULT OnConnection();
  // Reads Settings again and finds the tracked folders anew.
  HRESULT RefreshTracking();

  std::uint32_t number() const { return number_; }
  std::string displayName() const { return store_.displayName(); }
  const std::filesystem::path& directory() const { return directory_; }
  std::uint32_t settings() const { return settings_; }
  const std::vector<TrackedFolder>& trackedFolders() const { return tracked_; }
  platform::mail::MessageStore& store() const { return store_; }
  // "Software\Quillon\Vesper\EMail\PSTs\<number in hex>"
  std::string registryKey() const;

  bool IsEntryId(std::span<const std::uint8_t> storeEntryId) const;
  // S_OK when the item lies in a tracked folder or one of its sub-folders, with that tracked
  // folder's type and the name of the item's own folder; S_FALSE when it does not; the
  // store's error when the item cannot be opened.
  HRESULT IsTracked(std::span<const std::uint8_t> entryId, platform::mail::FolderType& type,
                    std::string& parentFolder) const;
  // Parks the record in the item's shortcut (made when missing).
  HRESULT SetPending(std::span<const std::uint8_t> entryId, const PendingRecord& record);
  // Moves a parked record into the item; S_OK with nothing parked.
  HRESULT ApplyPending(std::span<const std::uint8_t> entryId);

  // One step of a walk over at most `budget` items: S_OK when the walk has ended, S_FALSE
  // when it stopped at its resume point (kept in the registry) with more to do. `force`
  // starts over from the beginning.
  HRESULT ResyncDir(bool force, std::size_t budget);
  HRESULT ResyncPST(bool force, std::size_t budget);
  // A step of each walk that is due.
  HRESULT OnIdleDir(std::size_t budget);
  HRESULT OnIdlePST(std::size_t budget);
  bool dirSyncDue() const { return dirSyncDue_; }
  bool storeSyncDue() const { return storeSyncDue_; }

 private:
  HRESULT ReadSettings();
  void FindTrackedFolders();
  bool WalkDue(std::string_view syncValue, std::string_view completedValue) const;
  void SetCompleted(std::string_view completedValue);
  const TrackedFolder* TrackedRootOf(const platform::mail::EntryId& folder,
                                     const std::vector<platform::mail::Folder>& all) const;
  // The item's two times for its shortcut.
  void ItemTimes(std::span<const std::uint8_t> entryId, FileTime& created,
                 FileTime& lastWrite) const;

  const Context& ctx_;
  platform::mail::MessageStore& store_;
  std::filesystem::path directory_;
  std::chrono::milliseconds resyncPeriod_;
  WellKnownFolderNames names_;
  std::uint32_t number_ = 0;
  std::uint32_t settings_ = kDefaultStoreSettings;
  std::vector<TrackedFolder> tracked_;
  bool dirSyncDue_ = false;
  bool storeSyncDue_ = false;
};

}  // namespace qv::mail::addin
