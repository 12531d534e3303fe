#include "client/item_actions.h"

#include <unistd.h>

#include "client/preview_html.h"
#include "client/preview_rules.h"
#include "client/search_key_list.h"
#include "common/utf.h"

namespace qv::client {
namespace {

bool IsMailKind(ItemKind kind) {
  return kind == ItemKind::Mail || kind == ItemKind::Appointment || kind == ItemKind::Contact ||
         kind == ItemKind::Task;
}

bool HasMailPrefix(std::string_view id) {
  return id.size() >= kMailPrefix.size() &&
         EqualsNoCase(id.substr(0, kMailPrefix.size()), kMailPrefix);
}

// A string in the bus tool's value syntax, so that no address is read as anything else.
std::string BusString(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  out += '\'';
  return out;
}

ActionCommand BusCall(std::string_view service, std::string_view path, std::string_view method,
                      std::vector<std::string> args) {
  ActionCommand c;
  c.program = std::string(kBusProgram);
  c.args = {"call",          "--session", "--dest", std::string(service), "--object-path",
            std::string(path), "--method", std::string(method)};
  c.args.insert(c.args.end(), args.begin(), args.end());
  return c;
}

ActionCommand PortalOpen(const std::string& address, bool ask) {
  return BusCall(kPortalService, kPortalPath, kOpenUriMethod,
                 {BusString(""), BusString(address), ask ? "{'ask': <true>}" : "{}"});
}

}  // namespace

std::string ItemAddress(std::string_view identifier) {
  if (!IsUrl(identifier)) return FileUrl(identifier);
  // Blanks and control characters are escaped, so an address is always one line and one
  // argument.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : identifier) {
    if (c <= 0x20 || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool RunningSandboxed() { return ::access(std::string(kSandboxMarker).c_str(), F_OK) == 0; }

HRESULT PlanItemAction(ItemVerb verb, ItemKind kind, std::string_view identifier, bool sandboxed,
                       ActionPlan& out) {
  out = ActionPlan{};
  if (identifier.empty() || IsMailKind(kind) || HasMailPrefix(identifier)) return E_INVALIDARG;
  if (identifier.find('\0') != std::string_view::npos) return E_INVALIDARG;
  const bool url = IsUrl(identifier);
  // Anything else must be an absolute path: a relative one means nothing here, and one
  // starting with '-' must never reach a program as an option.
  if (!url && identifier.front() != '/') return E_INVALIDARG;
  const std::string address = ItemAddress(identifier);
  switch (verb) {
    case ItemVerb::Open:
      out.command = sandboxed ? PortalOpen(address, false)
                              : ActionCommand{std::string(kOpenProgram), {address}};
      out.whenNoAssociation = PortalOpen(address, true);
      return S_OK;
    case ItemVerb::OpenWith:
      out.command = PortalOpen(address, true);
      return S_OK;
    case ItemVerb::Properties:
      if (url) return E_INVALIDARG;
      out.command = BusCall(kFileManagerService, kFileManagerPath, kShowPropertiesMethod,
                            {"[" + BusString(address) + "]", BusString("")});
      return S_OK;
  }
  return E_INVALIDARG;
}

bool MailIdReplacement::Set(std::string_view oldId, std::string_view newId) {
  for (auto id : {oldId, newId}) {
    if (!HasMailPrefix(id) || Utf8ToUtf16(id).size() > kMaxMailIdChars) return false;
  }
  old_ = std::string(oldId);
  new_ = std::string(newId);
  return true;
}

std::string MailIdReplacement::Apply(std::string_view id) const {
  if (!old_.empty() && EqualsNoCase(id, old_)) return new_;
  return std::string(id);
}

HRESULT DecodeMailIdentifier(std::string_view id, std::vector<std::uint8_t>& entryId) {
  entryId.clear();
  if (!HasMailPrefix(id)) return E_INVALIDARG;
  const std::string_view hex = id.substr(kMailPrefix.size());
  if (hex.empty() || hex.size() % 2 != 0) return E_INVALIDARG;
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return E_INVALIDARG;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  entryId = std::move(bytes);
  return S_OK;
}

DragData MakeDragData(std::span<const DragItem> items) {
  DragData d;
  std::vector<SearchKeySource> keys;
  for (const auto& item : items) {
    const bool web = item.kind == ItemKind::WebPage && !item.url.empty();
    const std::string& where = web ? item.url : item.path;
    if (!where.empty() && !IsMailKind(item.kind) && (IsUrl(where) || where.front() == '/')) {
      d.uriList += ItemAddress(where) + "\r\n";
      if (where.find_first_of("\r\n") == std::string::npos) d.text += where + "\n";
    }
    keys.push_back({static_cast<ItemType>(item.kind), item.name, item.searchKey});
  }
  d.searchKeys = WriteSearchKeyList(keys);
  return d;
}

}  // namespace qv::client
