#pragma once
// The journal: one entry per finished visit, filed under the local day on which the visit
// started. LogEntry writes an entry (a record in the day's data file plus an empty marker
// file named after the entry) and announces it to the day's journal view windows;
// GetSearchContents turns an entry, found through its marker, into searchable text and
// values for the indexer.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "context/context.h"
#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"
#include "platform/com/class_registry.h"
#include "provider/journal/day_file_writer.h"
#include "provider/journal/journal_entry.h"
#include "provider/journal/journal_notification.h"

namespace qv::journal {

inline constexpr Guid CLSID_Journal =
    MakeGuid(0xABCB1802, 0x2F92, 0x460C, 0x88, 0x25, 0x45, 0xF0, 0x49, 0x9E, 0xC5, 0x0C);
inline constexpr Guid IID_IKivJournal =
    MakeGuid(0x4D15D764, 0xF4D0, 0x4880, 0x86, 0x1F, 0xCD, 0x28, 0x15, 0x46, 0xE9, 0x7C);
inline constexpr std::string_view kJournalProgId = "Pelion.Journal.1";
inline constexpr std::string_view kJournalProgIdIndependent = "Pelion.Journal";
inline constexpr std::string_view kJournalDescription = "Journal Class";

class IKivJournal : public platform::ComObject {
 public:
  // Working and active time in whole seconds. pbstrJournalEntry, when given, receives the
  // marker's full path.
  virtual HRESULT LogEntry(BstrIn bstrUrl, DATE dateStart, DATE dateEnd,
                           std::uint32_t WorkingTime, std::uint32_t ActiveTime,
                           std::uint32_t lType, std::uint32_t lPST, BstrIn bstrCachedUrl,
                           BstrIn bstrSearchKey, BstrIn bstrParentFolder, BstrIn bstrPrefix,
                           BstrIn bstrTitle, BstrIn bstrTo, BstrIn bstrFrom,
                           std::uint32_t lMessageFlags, BstrIn bstrOtherInfo,
                           std::string* pbstrJournalEntry) = 0;
  // Not implemented: E_NOTIMPL.
  virtual HRESULT UpdateSearchKey(BstrIn bstrFile, const Guid* SearchKey) = 0;
  // Every output that is given is set on every return: to the entry's value, or to empty
  // text and 0 when the entry lacks it, the path is not a marker, or reading failed.
  virtual HRESULT GetSearchContents(BstrIn bstrFile, std::string* pbstrContents,
                                    std::uint32_t* pPST, std::uint32_t* pAttn,
                                    std::uint32_t* pDuration, std::string* Description) = 0;
};

class Journal final : public IKivJournal {
 public:
  // `notifier` may be null: entries are then written but announced to no one. `sync` makes
  // a written record durable (fdatasync by default; see DayFileAppender).
  Journal(const Context& ctx, std::shared_ptr<JournalNotifier> notifier,
          std::chrono::milliseconds lockWait = kWriterLockWait,
          DayFileAppender::SyncData sync = {});

  HRESULT LogEntry(BstrIn bstrUrl, DATE dateStart, DATE dateEnd, std::uint32_t WorkingTime,
                   std::uint32_t ActiveTime, std::uint32_t lType, std::uint32_t lPST,
                   BstrIn bstrCachedUrl, BstrIn bstrSearchKey, BstrIn bstrParentFolder,
                   BstrIn bstrPrefix, BstrIn bstrTitle, BstrIn bstrTo, BstrIn bstrFrom,
                   std::uint32_t lMessageFlags, BstrIn bstrOtherInfo,
                   std::string* pbstrJournalEntry) override;
  HRESULT UpdateSearchKey(BstrIn bstrFile, const Guid* SearchKey) override;
  HRESULT GetSearchContents(BstrIn bstrFile, std::string* pbstrContents, std::uint32_t* pPST,
                            std::uint32_t* pAttn, std::uint32_t* pDuration,
                            std::string* Description) override;

  // The same as the interface methods, with the arguments gathered.
  // E_INVALIDARG for a null or empty URL, a start date that is 0.0 ("not set"), not finite or
  // out of range, an end date that is not finite, a marker path longer than kMaxPathBytes, or
  // an entry too large for one day-file record.
  HRESULT LogEntry(const EntryFields& fields, std::string* markerPath);
  HRESULT GetSearchContents(std::string_view markerPath, SearchContents& out);

  const std::filesystem::path& root() const { return journalRoot_; }

 private:
  std::filesystem::path journalRoot_;
  std::shared_ptr<JournalNotifier> notifier_;
  std::mutex mutex_;  // the appender's record of checked files
  DayFileAppender appender_;
};

// Registers the Journal class under its CLSID and ProgIDs; objects share `notifier`.
void RegisterJournalClass(platform::ClassRegistry& classes, const Context& ctx,
                          std::shared_ptr<JournalNotifier> notifier);

}  // namespace qv::journal
