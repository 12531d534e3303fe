#pragma once
// The shortcut writer: one routine makes a tracked item's empty shortcut, parks a pending
// ranking record in it, or applies a parked record to the item. The item is written before
// the record leaves the shortcut, so a failed write keeps the record for the next pass;
// applying the same record twice is harmless, since it sets the ranking absolutely.
#include <filesystem>
#include <span>

#include "common/hresult.h"
#include "common/oledate.h"
#include "context/context.h"
#include "mail/QvOutlookAddIn/pending_record.h"
#include "platform/mail/mail_store.h"

namespace qv::mail::addin {

struct ShortcutRequest {
  std::filesystem::path directory;        // the store's shortcut folder
  std::span<const std::uint8_t> key;      // the item's entry id
  FileTime created = 0, lastWrite = 0;    // the item's two times (0: leave the file's own)
  const PendingRecord* pending = nullptr; // park this record (implies force, no apply)
  bool force = false;                     // touch an existing shortcut's times
  bool apply = false;                     // move a parked record into the item
};

// `store` is needed only to apply. Failures are written to the event log and returned.
HRESULT WriteShortcut(const Context& ctx, platform::mail::MessageStore* store,
                      const ShortcutRequest& request);

// Deletes the item's shortcut; a shortcut that is not there counts as deleted.
HRESULT DeleteShortcut(const Context& ctx, const std::filesystem::path& directory,
                       std::span<const std::uint8_t> key);

// The record parked in the item's shortcut: S_OK with it, S_FALSE when the shortcut is
// missing or empty, STG_E_READFAULT when it holds anything but one whole record.
HRESULT ReadPendingRecord(const std::filesystem::path& directory,
                          std::span<const std::uint8_t> key, ranking::RankingSet& out);

}  // namespace qv::mail::addin
