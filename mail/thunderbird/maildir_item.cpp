#include "mail/thunderbird/maildir_item.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <fstream>
#include <vector>

#include "common/guid.h"
#include "mail/QvOutlookAddIn/item_identifier.h"

namespace qv::mail::tb {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStoreFile = "qv-store";
constexpr std::string_view kStoreMagic = "QVS1";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view StripBrackets(std::string_view id) {
  id = Trim(id);
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return id;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The first bytes of a regular file, opened without following links.
bool ReadHead(const fs::path& path, std::size_t limit, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  out.clear();
  if (ok) {
    out.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
      const ssize_t n = ::read(fd, out.data() + got, limit - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    out.resize(got);
  }
  ::close(fd);
  return ok;
}

HRESULT StoreId(const fs::path& root, std::vector<std::uint8_t>& out) {
  std::string text;
  if (!ReadHead(root / kStoreFile, 4096, text)) return HresultFromWin32(win32::ERROR_NOT_FOUND);
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto nl = rest.find('\n');
    const std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (line.starts_with("id ")) {
      const auto guid = ParseGuid(Trim(line.substr(3)));
      if (!guid) break;
      out.assign(kStoreMagic.begin(), kStoreMagic.end());
      const auto bytes = GuidToBytes(*guid);
      out.insert(out.end(), bytes.begin(), bytes.end());
      return S_OK;
    }
  }
  return HresultFromWin32(win32::ERROR_INVALID_DATA);
}

}  // namespace

HRESULT MaildirFolderName(std::string_view folderPath, std::string& out) {
  out.clear();
  std::string name;
  std::size_t parts = 0;
  std::string_view rest = folderPath;
  while (!rest.empty()) {
    const auto slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty()) continue;
    if (part == "." || part == "..") return E_INVALIDARG;
    for (const char c : part) {
      if (c == '.' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\') return E_INVALIDARG;
    }
    ++parts;
    name += '.';
    name += part;
  }
  // The inbox is the root's own folder.
  if (parts == 0 || (parts == 1 && EqualsNoCase(name, ".Inbox"))) return S_OK;
  if (name.size() > kMaxMaildirNameChars) return E_INVALIDARG;
  out = std::move(name);
  return S_OK;
}

std::string ReadMessageId(std::string_view head) {
  // Only the header block, with folded lines joined.
  std::string_view rest = head;
  std::string current;
  auto check = [](const std::string& line) -> std::string {
    const auto colon = line.find(':');
    if (colon == std::string::npos || !EqualsNoCase(Trim(std::string_view(line).substr(0, colon)), "Message-ID")) {
      return {};
    }
    return std::string(StripBrackets(std::string_view(line).substr(colon + 1)));
  };
  while (!rest.empty()) {
    const auto nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      current += ' ';
      current += Trim(line);
      continue;
    }
    if (auto id = check(current); !id.empty()) return id;
    if (line.empty()) return {};  // the body begins
    current = std::string(line);
  }
  return check(current);
}

HRESULT ResolveMaildirItem(const fs::path& root, std::string_view folderPath,
                           std::string_view messageId, std::string& identifier) {
  identifier.clear();
  const std::string_view wanted = StripBrackets(messageId);
  if (wanted.empty()) return E_INVALIDARG;
  std::string folder;
  if (const HRESULT hr = MaildirFolderName(folderPath, folder); Failed(hr)) return hr;
  std::vector<std::uint8_t> entryId;
  if (const HRESULT hr = StoreId(root, entryId); Failed(hr)) return hr;

  const fs::path dir = folder.empty() ? root : root / folder;
  std::size_t scanned = 0;
  std::string head;
  for (const char* sub : {"cur", "new"}) {
    std::error_code ec;
    fs::directory_iterator it(dir / sub, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (++scanned > kMaxScannedFiles) return HresultFromWin32(win32::ERROR_NOT_FOUND);
      const std::string file = it->path().filename().string();
      if (file.empty() || file.front() == '.') continue;
      if (!ReadHead(it->path(), kMaxHeaderBytes, head)) continue;
      if (ReadMessageId(head) != wanted) continue;
      // The unique name is the file name before its flags.
      const std::string unique = file.substr(0, file.find(":2,"));
      if (unique.empty() || unique.size() > kMaxMaildirNameChars) continue;
      entryId.push_back('M');
      entryId.push_back(static_cast<std::uint8_t>(folder.size()));
      entryId.insert(entryId.end(), folder.begin(), folder.end());
      entryId.insert(entryId.end(), unique.begin(), unique.end());
      identifier = addin::ItemIdentifier(entryId);
      return S_OK;
    }
  }
  return HresultFromWin32(win32::ERROR_NOT_FOUND);
}

}  // namespace qv::mail::tb
