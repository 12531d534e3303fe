#pragma once
// Which mail item a message displayed by the client is, for an account kept in Maildir
// folders: the account's folder path becomes the Maildir++ folder ("/Inbox" the root itself,
// "/Sent" ".Sent", "/Archives/2026" ".Archives.2026"), the message is the file of that folder
// whose Message-ID header matches, and its item identifier is "outlook:" and the hex of the
// entry id the mail store gives that file: the store id ("QVS1" and the GUID of the root's
// "qv-store" file), 'M', the folder name's length and name, and the file's unique name.
#include <filesystem>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::mail::tb {

// Message files read for their headers, and the header bytes read from each.
inline constexpr std::size_t kMaxScannedFiles = 200000;
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr std::size_t kMaxMaildirNameChars = 200;

// ".Sent" for "/Sent", "" for "/Inbox" or "/"; E_INVALIDARG for a path that could leave the
// root or that Maildir++ cannot name (a '.' or control character in a part, "..", too long).
HRESULT MaildirFolderName(std::string_view folderPath, std::string& out);

// The Message-ID header of a message file's head, without angle brackets; "" when none.
std::string ReadMessageId(std::string_view head);

// MAPI_E_NOT_FOUND-style HresultFromWin32(ERROR_NOT_FOUND) when no file has the id, or the
// root is not a store (no "qv-store" file).
HRESULT ResolveMaildirItem(const std::filesystem::path& root, std::string_view folderPath,
                           std::string_view messageId, std::string& identifier);

}  // namespace qv::mail::tb
