#pragma once
// The journal view's model: the entries of one local day, read from the day's data file,
// kept current while the day is shown (the journal announces each new entry to windows named
// after its day), sorted by one of six columns, and deleted by removing their markers.
// Only entries whose marker file exists are shown: a deleted entry stays in the data file
// but must not come back.
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"
#include "platform/messaging/window_station.h"
#include "platform/registry/registry.h"

namespace qv::client {

// Columns of the entry list.
inline constexpr int kJournalColumnCount = 6;
inline constexpr int kJournalColumnName = 0;
inline constexpr int kJournalColumnLocation = 1;
inline constexpr int kJournalColumnKind = 2;
inline constexpr int kJournalColumnStart = 3;
inline constexpr int kJournalColumnWorkingTime = 4;
inline constexpr int kJournalColumnActiveTime = 5;
// The name suffix of the entry list's values under the View key (sortj, sortdirj).
inline constexpr std::string_view kJournalListSuffix = "j";

struct JournalViewEntry {
  Guid id;
  std::string url;
  std::string title;
  std::string parentFolder;
  std::uint32_t type = 0;
  DATE start = 0.0, end = 0.0;
  std::uint32_t workingTime = 0, activeTime = 0;  // whole seconds
  std::string searchKey;
};

// The kind column's text for an entry's item type: "File", "Web page", "Mail message",
// "Appointment", "Contact" or "Task" for 0 to 5; any other number is shown as it is.
std::string JournalKindText(std::uint32_t type);

struct JournalSort {
  int column = kJournalColumnStart;
  bool ascending = false;
  friend bool operator==(const JournalSort&, const JournalSort&) = default;
};
// A header click: the same column toggles; another starts ascending for the name, location
// and kind columns and descending for the others. False for a column that does not exist.
bool ClickJournalColumn(JournalSort& sort, int column);
JournalSort LoadJournalSort(const platform::Registry& reg);
std::int32_t SaveJournalSort(platform::Registry& reg, const JournalSort& sort);

// The model is shared between the view's thread and the notification window's loop: every
// member may be called from either.
class JournalViewModel {
 public:
  explicit JournalViewModel(std::filesystem::path journalRoot);

  // Shows `day`: S_OK with its entries (none for a day without a data file); on another
  // failure to read the list stays empty and the error is returned (message 152).
  // `beforeRead` runs once the day is set and before its file is read (the listener renames
  // its window there, so that no entry written meanwhile is missed).
  HRESULT ShowDay(const CivilDay& day,
                  const std::function<void(const std::string& dayKey)>& beforeRead = {});
  CivilDay day() const;
  // The shown day's key ("2005\7\26"): the title and the notification window's name.
  std::string dayKey() const;

  // A journal notification (the 32-byte block). S_OK when its entry was added; S_FALSE when
  // it belongs to another day, is listed already, or has no marker; an error when the block
  // is malformed or the entry cannot be read.
  HRESULT OnNotification(std::span<const std::uint8_t> block);

  // Deletes the chosen entries' markers, in the data file's order, then shows the day again.
  // A marker already missing counts as deleted; any other failure stops the deletion (what
  // was deleted stays deleted) and is returned.
  HRESULT DeleteEntries(std::span<const Guid> chosen);

  // The entries in the current sort.
  std::vector<JournalViewEntry> entries() const;
  JournalSort sort() const;
  void SetSort(const JournalSort& sort);

  // Called (without the model's lock) after the list changed.
  void SetOnChange(std::function<void()> onChange);

 private:
  HRESULT ReadDay(const CivilDay& day, std::vector<JournalViewEntry>& out) const;
  void SortLocked();
  void Changed();

  std::filesystem::path root_;
  mutable std::mutex mutex_;
  CivilDay day_{};
  bool shown_ = false;
  std::vector<JournalViewEntry> entries_;
  JournalSort sort_;
  std::function<void()> onChange_;
};

// The view's message-only window of class "QvJournalNotifications", named after the shown
// day, through which the journal's notifications reach the model.
class JournalViewListener {
 public:
  // The model must outlive the listener (its window calls the model until it goes).
  explicit JournalViewListener(JournalViewModel& model) : model_(model) {}

  // Creates the window on `loop`, named after the model's current day.
  static HRESULT Create(platform::WindowStation& station, platform::MessageLoop& loop,
                        JournalViewModel& model, std::unique_ptr<JournalViewListener>& out);
  // Shows another day: the model reads it and the window takes its name, so the journal
  // announces only that day's entries to it from now on.
  HRESULT ShowDay(const CivilDay& day);

 private:
  JournalViewModel& model_;
  std::unique_ptr<platform::Window> window_;
};

}  // namespace qv::client
