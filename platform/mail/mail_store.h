#pragma once
// A message store as the mail add-in sees it: folders of messages, each message with its
// header values, recipients, bodies and named properties. Entry ids are opaque bytes that stay
// the same while a message lives (a change of its read state or a saved property keeps it).
// The Maildir implementation keeps one store per Maildir++ root; SimMailClient drives it.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::platform::mail {

using EntryId = std::vector<std::uint8_t>;

// Numbers of the mail client's default-folder enumeration.
enum class FolderType : std::int32_t {
  None = 0,
  DeletedItems = 3,
  Outbox = 4,
  SentMail = 5,
  Inbox = 6,
  Calendar = 9,
  Contacts = 10,
  Journal = 11,
  Notes = 12,
  Tasks = 13,
  Drafts = 16,
};

enum class RecipientType : std::int32_t { To = 1, Cc = 2, Bcc = 3 };

struct Recipient {
  RecipientType type = RecipientType::To;
  std::string name;     // display name, may be empty
  std::string address;  // e-mail address, may be empty
  bool operator==(const Recipient&) const = default;
};

// A named property: a property set and a numeric name.
struct NamedId {
  Guid set;
  std::uint32_t id = 0;
  auto operator<=>(const NamedId&) const = default;
};
using NamedValue = std::variant<std::int32_t, double>;  // PT_LONG or PT_DOUBLE

// Message flags the add-in reads.
inline constexpr std::uint32_t kMsgFlagRead = 0x01;
inline constexpr std::uint32_t kMsgFlagUnsent = 0x08;
inline constexpr std::uint32_t kMsgFlagFromMe = 0x20;

struct Message {
  EntryId entryId;       // empty until the message is saved for the first time
  EntryId storeEntryId;  // the store it lives in
  EntryId folderId;      // its folder
  EntryId searchKey;     // 16 bytes or more for a saved message
  std::optional<std::string> subjectPrefix;      // "Re: "
  std::optional<std::string> normalizedSubject;  // the subject without its prefix
  std::optional<std::string> messageClass;       // "IPM.Note"
  std::optional<std::string> senderName, senderAddress;
  std::vector<Recipient> recipients;
  std::uint32_t messageFlags = 0;
  std::optional<DATE> startDate, endDate;  // appointments and tasks
  std::optional<DATE> deliveryTime;
  // Bodies as stored: HTML (with its charset), compressed RTF bytes, plain text (UTF-8).
  std::optional<std::string> bodyHtml;
  std::optional<std::string> htmlCharset;
  std::optional<std::vector<std::uint8_t>> bodyRtfCompressed;
  std::optional<std::string> bodyPlain;
  std::map<NamedId, NamedValue> named;
};

struct Folder {
  EntryId id;
  std::string displayName;  // "Inbox", "Sent Items", ...
  FolderType type = FolderType::None;
  EntryId parent;  // empty for the top of the store
};

class MessageStore {
 public:
  virtual ~MessageStore() = default;
  virtual const EntryId& storeEntryId() const = 0;
  virtual std::string displayName() const = 0;

  // MAPI_E_NOT_FOUND when the store has no such folder.
  virtual HRESULT DefaultFolder(FolderType type, EntryId& out) const = 0;
  virtual HRESULT Folders(std::vector<Folder>& out) const = 0;
  // The entry ids of a folder's messages, oldest first.
  virtual HRESULT Messages(std::span<const std::uint8_t> folderId,
                           std::vector<EntryId>& out) const = 0;

  // MAPI_E_NOT_FOUND when no message has the id; E_INVALIDARG when the id names a folder.
  virtual HRESULT OpenMessage(std::span<const std::uint8_t> entryId, Message& out) const = 0;
  // Writes the whole message atomically (a new file renamed into place): a failure leaves the
  // stored message as it was. A message without an entry id is created in `folderId` and
  // receives its id, search key and store id.
  virtual HRESULT SaveMessage(Message& message) = 0;
  virtual HRESULT DeleteMessage(std::span<const std::uint8_t> entryId) = 0;
  virtual HRESULT SetReadFlag(std::span<const std::uint8_t> entryId, bool read) = 0;
};

// MAPI's "not found" (0x8004010F).
inline constexpr HRESULT MAPI_E_NOT_FOUND = MakeHr(0x8004010F);

}  // namespace qv::platform::mail
