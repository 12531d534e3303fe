#pragma once
// A message store over a Maildir++ root. The inbox is the root's own cur/new/tmp; sub-folders
// are the root's ".Name" folders, the well-known ones mapped to their folder types:
//   ".Sent" Sent Items, ".Drafts", ".Trash" Deleted Items, ".Outbox", ".Calendar",
//   ".Contacts", ".Notes", ".Tasks", ".Journal"; any other folder has type None.
// Messages are RFC 5322 files. What a mail file cannot carry (named properties, the search
// key, the message class, flags beyond Maildir's S and D, start and end dates) is kept in our
// own header lines at the top of the file:
//   X-Qv-Store: <the store's secret>   (the lines below count only beside it)
//   X-Qv-Search-Key: <hex>   X-Qv-Message-Class: IPM.Note   X-Qv-Flags: <decimal>
//   X-Qv-Start: <DATE>   X-Qv-End: <DATE>   X-Qv-Named: {GUID}/<id>/long|double/<value>
// The secret keeps a sender from planting ranking data in a mail: a mail that arrives with
// X-Qv lines but without this store's secret has them ignored (and dropped on the next save).
// Bodies: the first text/plain, text/html and application/rtf parts that are not
// attachments. An application/rtf part holds the compressed RTF bytes as the message keeps
// them; the store does not compress or decompress. An empty body counts as no body.
// A save keeps every header and body part it did not change (attachments survive it).
//
// Entry ids (opaque to callers): the store entry id is "QVS1" and the store's 16-byte GUID,
// kept with the secret in the root's file "qv-store" (0600). A folder id is the store id,
// 'F' and the folder's directory name ("" for the inbox); a message id is the store id, 'M',
// one byte of folder-name length, the folder name and the message's Maildir unique name (the
// file name before ":2,"), so neither a flag change nor a save changes it.
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "platform/mail/mail_store.h"

namespace qv::platform::mail {

// A message file the reader refuses (malformed, too large, not a regular file).
inline constexpr HRESULT MAPI_E_CORRUPT_DATA = MakeHr(0x8004011B);

// Longest folder and unique name an entry id may carry.
inline constexpr std::size_t kMaxMaildirName = 200;

struct MaildirEntryId {
  char kind = 0;       // 'F' folder, 'M' message
  std::string folder;  // "" for the inbox, ".Sent", ...
  std::string unique;  // messages only
};
// Decodes an id of this store's shape; false for anything else, or for names that could
// leave the root (a '/', "..", a ':' in a unique name, a leading '.' ...).
bool ParseMaildirEntryId(std::span<const std::uint8_t> id,
                         std::span<const std::uint8_t> storeEntryId, MaildirEntryId& out);

class MaildirStore final : public MessageStore {
  struct OpenKey {
    explicit OpenKey() = default;
  };

 public:
  // Only Open makes one (the key is private to the class).
  MaildirStore(OpenKey, std::filesystem::path root, std::string displayName, const Clock& clock)
      : root_(std::move(root)), displayName_(std::move(displayName)), clock_(clock) {}
  // Opens the store at `root`; with `create`, makes the root (0700) and its id file when
  // missing. The clock dates new messages and names their files.
  static HRESULT Open(const std::filesystem::path& root, std::string displayName,
                      const Clock& clock, std::unique_ptr<MaildirStore>& out, bool create = true);

  const EntryId& storeEntryId() const override { return storeId_; }
  std::string displayName() const override { return displayName_; }
  HRESULT DefaultFolder(FolderType type, EntryId& out) const override;
  HRESULT Folders(std::vector<Folder>& out) const override;
  HRESULT Messages(std::span<const std::uint8_t> folderId,
                   std::vector<EntryId>& out) const override;
  HRESULT OpenMessage(std::span<const std::uint8_t> entryId, Message& out) const override;
  HRESULT SaveMessage(Message& message) override;
  HRESULT DeleteMessage(std::span<const std::uint8_t> entryId) override;
  HRESULT SetReadFlag(std::span<const std::uint8_t> entryId, bool read) override;

  // Delivers a mail as a mail program would: the RFC 5322 text checked by the reader, written
  // to tmp/, synced and linked into new/ under a new unique name. A malformed mail is refused
  // with MAPI_E_CORRUPT_DATA and leaves nothing behind.
  HRESULT Deliver(std::span<const std::uint8_t> folderId, std::string_view text, EntryId& out);
  // Makes the sub-folder ".Name" (0700, with cur/new/tmp); S_FALSE when it exists.
  HRESULT CreateFolder(std::string_view maildirName);
  // Makes every well-known sub-folder.
  HRESULT CreateDefaultFolders();
  // The id of a folder by its directory name ("" for the inbox).
  EntryId FolderId(std::string_view maildirName) const;
  // The file that holds a message now.
  HRESULT MessagePath(std::span<const std::uint8_t> entryId, std::filesystem::path& out) const;
  const std::filesystem::path& root() const { return root_; }
  // What was wrong with the last message file refused, or the last failing step of a save.
  std::string lastError() const;

 private:
  std::filesystem::path FolderPath(const std::string& folder) const;
  EntryId MessageId(const MaildirEntryId& id) const;
  HRESULT Locate(const MaildirEntryId& id, std::filesystem::path& out) const;
  HRESULT ReadFile(const std::filesystem::path& path, std::string& out) const;
  HRESULT Load(const MaildirEntryId& id, const std::filesystem::path& path,
               std::string& text, Message& out) const;
  std::string NewUniqueName() const;
  HRESULT Fail(HRESULT hr, std::string text) const;
  HRESULT WriteAside(const std::filesystem::path& tmp, std::string_view text) const;

  std::filesystem::path root_;
  std::string displayName_;
  const Clock& clock_;
  EntryId storeId_;
  std::string secret_;  // hex, from the id file
  mutable std::atomic<std::uint32_t> counter_{0};
  mutable std::mutex errorMutex_;
  mutable std::string lastError_;
};

}  // namespace qv::platform::mail
