#pragma once
// What the user can do with a result row besides previewing it, as data: the program and
// arguments that open an item, open it with a program of the user's choice, or show its
// properties, and the data a drag carries. Opening hands the item to the desktop; the visit
// that follows is the tracer's to see, so no action reports a visit.
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/result_rows.h"
#include "common/guid.h"
#include "common/hresult.h"

namespace qv::client {

// In a sandbox the desktop is reached through its portal; this file tells that one runs.
inline constexpr std::string_view kSandboxMarker = "/.flatpak-info";
inline constexpr std::string_view kOpenProgram = "xdg-open";
inline constexpr std::string_view kBusProgram = "gdbus";
inline constexpr std::string_view kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr std::string_view kPortalPath = "/org/freedesktop/portal/desktop";
inline constexpr std::string_view kOpenUriMethod = "org.freedesktop.portal.OpenURI.OpenURI";
inline constexpr std::string_view kFileManagerService = "org.freedesktop.FileManager1";
inline constexpr std::string_view kFileManagerPath = "/org/freedesktop/FileManager1";
inline constexpr std::string_view kShowPropertiesMethod =
    "org.freedesktop.FileManager1.ShowItemProperties";
// Mail identifiers start with this (any case) and are at most this long.
inline constexpr std::string_view kMailPrefix = "outlook:";
inline constexpr std::size_t kMaxMailIdChars = 127;

enum class ItemVerb { Open, OpenWith, Properties };

// A program run without a shell: its name (looked up in PATH) and its arguments.
struct ActionCommand {
  std::string program;
  std::vector<std::string> args;
  friend bool operator==(const ActionCommand&, const ActionCommand&) = default;
};

// What an action runs: the command, and for opening, the command tried once more when the
// first finds no program for the item (the chooser).
struct ActionPlan {
  ActionCommand command;
  std::optional<ActionCommand> whenNoAssociation;
};

// The address an item is handed over as: a file URL for a path (see FileUrl), the URL
// itself for anything that already is one.
std::string ItemAddress(std::string_view identifier);

// The plan for a verb on a file, folder or web page. `sandboxed` chooses the portal for
// opening. E_INVALIDARG for an empty identifier, a mail item (see MailIdentifier), or
// properties of anything but a local path.
HRESULT PlanItemAction(ItemVerb verb, ItemKind kind, std::string_view identifier,
                       bool sandboxed, ActionPlan& out);
// Whether this process runs in a sandbox (the marker file exists).
bool RunningSandboxed();

// The one remembered replacement for a mail identifier (the mail integration sets it when an
// item moves). Both start with the mail prefix and are at most kMaxMailIdChars long.
class MailIdReplacement {
 public:
  // False (and nothing set) for identifiers that break those rules.
  bool Set(std::string_view oldId, std::string_view newId);
  // The new identifier when `id` equals the old one without regard to case, else `id`.
  std::string Apply(std::string_view id) const;

 private:
  std::string old_, new_;
};
// The entry identifier of a mail identifier: the bytes its hex digits spell. E_INVALIDARG for
// anything but the prefix and a non-empty, even number of upper-case hex digits.
HRESULT DecodeMailIdentifier(std::string_view id, std::vector<std::uint8_t>& entryId);

// What a row gives to a drag.
struct DragItem {
  ItemKind kind = ItemKind::File;
  std::string path;  // a file's path; for a web page its shortcut file
  std::string url;   // a web page's address
  std::string name;  // the name the list shows
  Guid searchKey;    // null when the item has none
};
inline constexpr std::string_view kUriListType = "text/uri-list";
inline constexpr std::string_view kPlainTextType = "text/plain;charset=utf-8";
// The client's own format: the search-key list of the dragged rows.
inline constexpr std::string_view kSearchKeyListType = "application/x-kivdragdrop";

struct DragData {
  std::string uriList;     // one address per line, each ended by CR LF
  std::string text;        // paths and web addresses, one per line
  std::string searchKeys;  // the search-key list: three lines per row
};
DragData MakeDragData(std::span<const DragItem> items);

}  // namespace qv::client
