#include "platform/mail/maildir_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "common/utf.h"
#include "platform/mail/mime_message.h"

namespace qv::platform::mail {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kStoreMagic = "QVS1";
constexpr std::string_view kIdFileName = "qv-store";
constexpr std::size_t kSearchKeyBytes = 16;
constexpr std::string_view kDefaultClass = "IPM.Note";
constexpr int kNameTries = 5;  // new unique names tried when one is taken

struct KnownFolder {
  std::string_view dir;
  FolderType type;
  std::string_view displayName;
};
constexpr std::array<KnownFolder, 10> kKnownFolders = {{
    {"", FolderType::Inbox, "Inbox"},
    {".Sent", FolderType::SentMail, "Sent Items"},
    {".Drafts", FolderType::Drafts, "Drafts"},
    {".Trash", FolderType::DeletedItems, "Deleted Items"},
    {".Outbox", FolderType::Outbox, "Outbox"},
    {".Calendar", FolderType::Calendar, "Calendar"},
    {".Contacts", FolderType::Contacts, "Contacts"},
    {".Notes", FolderType::Notes, "Notes"},
    {".Tasks", FolderType::Tasks, "Tasks"},
    {".Journal", FolderType::Journal, "Journal"},
}};

// Our header lines; every one of them starts with this.
constexpr std::string_view kOwnPrefix = "X-Qv-";

HRESULT LastErrno() { return HresultFromErrno(errno); }

// A file descriptor closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void SyncDirectory(const fs::path& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

// Makes a folder 0700 whatever the umask. A folder that is already there keeps its mode: a
// mail program that shares it with its delivery agent set it so.
HRESULT MakeDirectory(const fs::path& dir) {
  const bool made = ::mkdir(dir.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return LastErrno();
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return LastErrno();
  if (!S_ISDIR(st.st_mode)) return HresultFromWin32(win32::ERROR_PATH_NOT_FOUND);
  if (made && (st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) return LastErrno();
  return S_OK;
}

bool IsDirectory(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const auto b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool FromHex(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned v = 0;
    const auto r = std::from_chars(text.data() + i, text.data() + i + 2, v, 16);
    if (r.ec != std::errc{} || r.ptr != text.data() + i + 2) return false;
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

// 128 bits from two FNV-1a runs: a stable search key for a Message-ID or an entry id.
EntryId HashKey(std::string_view text) {
  EntryId out;
  for (const std::uint64_t seed : {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull}) {
    std::uint64_t h = seed;
    for (const char c : text) {
      h ^= static_cast<std::uint8_t>(c);
      h *= 0x100000001b3ull;
    }
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(h >> (8 * i)));
  }
  return out;
}

// Digit runs compare by value, everything else byte by byte.
bool NaturalLess(std::string_view a, std::string_view b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      std::string_view na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool ValidFolderName(std::string_view f) {
  if (f.empty()) return true;
  if (f.size() < 2 || f.size() > kMaxMaildirName || f.front() != '.' || f == "..") return false;
  return f.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool ValidUniqueName(std::string_view u) {
  if (u.empty() || u.size() > kMaxMaildirName || u.front() == '.') return false;
  return u.find_first_of(std::string_view("/:\0", 3)) == std::string_view::npos;
}

// "uniq:2,FS" into its unique name and flag letters.
void SplitFileName(std::string_view name, std::string_view& unique, std::string& flags) {
  const auto colon = name.find(':');
  unique = name.substr(0, colon);
  flags.clear();
  if (colon != std::string_view::npos && name.substr(colon).starts_with(":2,"))
    flags = std::string(name.substr(colon + 3));
}

std::string WithFlag(std::string flags, char flag, bool on) {
  std::erase(flags, flag);
  if (on) flags += flag;
  std::sort(flags.begin(), flags.end());
  return flags;
}

std::string SplitSubjectPrefix(const std::string& subject, std::string& normalized) {
  // A prefix is one to three letters and a colon with a space after it ("Re: ", "Fwd: ").
  std::size_t n = 0;
  while (n < subject.size() && n < 4 &&
         ((subject[n] >= 'a' && subject[n] <= 'z') || (subject[n] >= 'A' && subject[n] <= 'Z')))
    ++n;
  if (n >= 1 && n <= 3 && n + 1 < subject.size() && subject[n] == ':' && subject[n + 1] == ' ') {
    normalized = subject.substr(n + 2);
    return subject.substr(0, n + 2);
  }
  normalized = subject;
  return {};
}

bool SafeAddress(std::string_view a) {
  for (const char c : a) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127 || std::string_view("<>,;\"()\\[]").find(c) != std::string_view::npos)
      return false;
  }
  return true;
}

std::string FormatDouble(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::optional<double> ParseDouble(std::string_view s) {
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc{} || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// "{GUID}/id/long/value" or "{GUID}/id/double/value".
bool ParseNamed(std::string_view value, NamedId& id, NamedValue& v) {
  if (value.size() < kGuidTextLength + 1 || value[kGuidTextLength] != '/') return false;
  const auto guid = ParseGuid(value.substr(0, kGuidTextLength));
  if (!guid) return false;
  value.remove_prefix(kGuidTextLength + 1);
  const auto s1 = value.find('/');
  if (s1 == std::string_view::npos) return false;
  const auto s2 = value.find('/', s1 + 1);
  if (s2 == std::string_view::npos) return false;
  std::uint32_t num = 0;
  const std::string_view numText = value.substr(0, s1);
  auto r = std::from_chars(numText.data(), numText.data() + numText.size(), num);
  if (r.ec != std::errc{} || r.ptr != numText.data() + numText.size()) return false;
  const std::string_view type = value.substr(s1 + 1, s2 - s1 - 1);
  const std::string_view text = value.substr(s2 + 1);
  if (type == "long") {
    std::int32_t l = 0;
    r = std::from_chars(text.data(), text.data() + text.size(), l);
    if (r.ec != std::errc{} || r.ptr != text.data() + text.size()) return false;
    v = l;
  } else if (type == "double") {
    const auto d = ParseDouble(text);
    if (!d) return false;
    v = *d;
  } else {
    return false;
  }
  id = NamedId{*guid, num};
  return true;
}

std::optional<std::string> NonEmpty(const std::string& s) {
  return s.empty() ? std::nullopt : std::optional<std::string>(s);
}

bool SameText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return a.value_or(std::string{}) == b.value_or(std::string{});
}

// The message's values that a mail file carries in its standard fields and parts.
void ReadStandardFields(const MimeMessage& mime, Message& out) {
  const auto& h = mime.root.headers;
  if (const HeaderField* subject = FindHeader(h, "Subject")) {
    std::string normalized;
    const std::string prefix = SplitSubjectPrefix(DecodeEncodedWords(subject->value), normalized);
    if (!prefix.empty()) out.subjectPrefix = prefix;
    out.normalizedSubject = normalized;
  }
  if (const HeaderField* from = FindHeader(h, "From")) {
    const auto list = ParseAddressList(from->value);
    if (!list.empty()) {
      out.senderName = NonEmpty(list.front().name);
      out.senderAddress = NonEmpty(list.front().address);
    }
  }
  for (const auto& field : h) {
    RecipientType type;
    if (EqualsNoCase(field.name, "To")) type = RecipientType::To;
    else if (EqualsNoCase(field.name, "Cc")) type = RecipientType::Cc;
    else if (EqualsNoCase(field.name, "Bcc")) type = RecipientType::Bcc;
    else continue;
    for (auto& a : ParseAddressList(field.value))
      out.recipients.push_back(Recipient{type, std::move(a.name), std::move(a.address)});
  }
  if (const HeaderField* date = FindHeader(h, "Date")) out.deliveryTime = ParseMailDate(date->value);

  if (const MimePart* p = FindBodyPart(mime.root, "text/plain"); p && !p->body.empty()) {
    const auto cs = p->params.find("charset");
    out.bodyPlain = ToUtf8(p->body, cs == p->params.end() ? "" : cs->second);
  }
  if (const MimePart* p = FindBodyPart(mime.root, "text/html"); p && !p->body.empty()) {
    out.bodyHtml = p->body;
    if (const auto cs = p->params.find("charset"); cs != p->params.end())
      out.htmlCharset = cs->second;
  }
  if (const MimePart* p = FindBodyPart(mime.root, "application/rtf"); p && !p->body.empty())
    out.bodyRtfCompressed = std::vector<std::uint8_t>(p->body.begin(), p->body.end());
}

// Our own lines, read only when they carry this store's secret.
void ReadOwnFields(const MimeMessage& mime, const std::string& secret, Message& out) {
  const auto& h = mime.root.headers;
  const HeaderField* seal = FindHeader(h, "X-Qv-Store");
  if (seal == nullptr || seal->value != secret) return;
  for (const auto& field : h) {
    if (!field.name.starts_with(kOwnPrefix)) continue;
    const std::string_view v = field.value;
    if (EqualsNoCase(field.name, "X-Qv-Search-Key")) {
      std::vector<std::uint8_t> key;
      if (FromHex(v, key) && key.size() >= kSearchKeyBytes) out.searchKey = key;
    } else if (EqualsNoCase(field.name, "X-Qv-Message-Class")) {
      if (!v.empty()) out.messageClass = std::string(v);
    } else if (EqualsNoCase(field.name, "X-Qv-Flags")) {
      std::uint32_t flags = 0;
      const auto r = std::from_chars(v.data(), v.data() + v.size(), flags);
      if (r.ec == std::errc{} && r.ptr == v.data() + v.size())
        out.messageFlags |= flags & ~kMsgFlagRead;  // the read state is Maildir's S
    } else if (EqualsNoCase(field.name, "X-Qv-Start")) {
      out.startDate = ParseDouble(v);
    } else if (EqualsNoCase(field.name, "X-Qv-End")) {
      out.endDate = ParseDouble(v);
    } else if (EqualsNoCase(field.name, "X-Qv-Named")) {
      NamedId id;
      NamedValue value;
      if (ParseNamed(v, id, value)) out.named[id] = value;
    }
  }
}

std::string AddressField(std::string_view name, const std::vector<MailAddress>& list) {
  std::string out(name);
  out += ": ";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out += ",\n ";
    out += FormatAddress(list[i]);
  }
  return out + "\n";
}

// The body of a new or changed message: its Content-* fields and the body after the blank line.
std::string ComposeBody(const Message& m, const std::string& boundary) {
  struct Leaf {
    std::string type;
    std::string bytes;
  };
  std::vector<Leaf> leaves;
  if (m.bodyPlain && !m.bodyPlain->empty())
    leaves.push_back({"text/plain; charset=utf-8", *m.bodyPlain});
  if (m.bodyHtml && !m.bodyHtml->empty()) {
    std::string type = "text/html";
    if (m.htmlCharset && !m.htmlCharset->empty())
      type += "; charset=\"" + *m.htmlCharset + "\"";
    leaves.push_back({type, *m.bodyHtml});
  }
  if (m.bodyRtfCompressed && !m.bodyRtfCompressed->empty())
    leaves.push_back({"application/rtf",
                      std::string(m.bodyRtfCompressed->begin(), m.bodyRtfCompressed->end())});
  std::string out = "MIME-Version: 1.0\n";
  auto leaf = [](const Leaf& l) {
    return "Content-Type: " + l.type + "\nContent-Transfer-Encoding: base64\n\n" +
           EncodeBase64(l.bytes) + "\n";
  };
  if (leaves.empty()) return out + "Content-Type: text/plain; charset=utf-8\n\n";
  if (leaves.size() == 1) return out + leaf(leaves.front());
  out += "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\n\n";
  for (const auto& l : leaves) out += "--" + boundary + "\n" + leaf(l);
  return out + "--" + boundary + "--\n";
}

bool IsContentField(std::string_view name) {
  return EqualsNoCase(name, "MIME-Version") || EqualsNoCase(name, "Content-Type") ||
         EqualsNoCase(name, "Content-Transfer-Encoding");
}

}  // namespace

bool ParseMaildirEntryId(std::span<const std::uint8_t> id,
                         std::span<const std::uint8_t> storeEntryId, MaildirEntryId& out) {
  out = MaildirEntryId{};
  if (storeEntryId.empty() || id.size() <= storeEntryId.size() ||
      !std::equal(storeEntryId.begin(), storeEntryId.end(), id.begin()))
    return false;
  id = id.subspan(storeEntryId.size());
  const char kind = static_cast<char>(id[0]);
  id = id.subspan(1);
  if (kind == 'F') {
    out.folder.assign(id.begin(), id.end());
    if (!ValidFolderName(out.folder)) return false;
  } else if (kind == 'M') {
    if (id.empty() || id[0] >= id.size()) return false;
    const std::size_t n = id[0];
    out.folder.assign(id.begin() + 1, id.begin() + 1 + static_cast<std::ptrdiff_t>(n));
    out.unique.assign(id.begin() + 1 + static_cast<std::ptrdiff_t>(n), id.end());
    if (!ValidFolderName(out.folder) || !ValidUniqueName(out.unique)) return false;
  } else {
    return false;
  }
  out.kind = kind;
  return true;
}

HRESULT MaildirStore::Open(const fs::path& root, std::string displayName, const Clock& clock,
                           std::unique_ptr<MaildirStore>& out, bool create) {
  out.reset();
  auto store = std::make_unique<MaildirStore>(OpenKey{}, root, std::move(displayName), clock);
  if (create) {
    std::error_code ec;
    if (!IsDirectory(root) && root.has_parent_path()) fs::create_directories(root.parent_path(), ec);
    for (const char* sub : {"", "cur", "new", "tmp"})
      if (const HRESULT hr = MakeDirectory(root / sub); Failed(hr)) return hr;
  } else if (!IsDirectory(root / "cur")) {
    return HresultFromWin32(win32::ERROR_PATH_NOT_FOUND);
  }
  const fs::path idFile = root / kIdFileName;
  std::string text;
  HRESULT hr = store->ReadFile(idFile, text);
  if (hr == HresultFromWin32(win32::ERROR_FILE_NOT_FOUND) && create) {
    // Made once: written aside and linked into place, so two first openers agree on one id.
    Guid guid, secret1, secret2;
    if (Failed(hr = NewGuid(guid)) || Failed(hr = NewGuid(secret1)) ||
        Failed(hr = NewGuid(secret2)))
      return hr;
    const auto s1 = GuidToBytes(secret1), s2 = GuidToBytes(secret2);
    std::string content = "id " + FormatGuid(guid) + "\nsecret " + Hex(s1) + Hex(s2) + "\n";
    const fs::path aside = root / "tmp" / (std::string(kIdFileName) + "." + Hex(s1));
    {
      Fd fd(::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (fd.get() < 0) return LastErrno();
      ::fchmod(fd.get(), 0600);
      if (!WriteAll(fd.get(), content) || ::fsync(fd.get()) != 0) {
        hr = LastErrno();
        ::unlink(aside.c_str());
        return hr;
      }
    }
    const bool linked = ::link(aside.c_str(), idFile.c_str()) == 0;
    const int err = errno;
    ::unlink(aside.c_str());
    if (!linked && err != EEXIST) return HresultFromErrno(err);
    SyncDirectory(root);
    hr = store->ReadFile(idFile, text);
  }
  if (Failed(hr)) return hr;
  // "id {GUID}\nsecret HEX\n"
  std::optional<Guid> guid;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto nl = text.find('\n', pos);
    const std::string_view line =
        std::string_view(text).substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (line.starts_with("id ")) guid = ParseGuid(line.substr(3));
    if (line.starts_with("secret ")) store->secret_ = std::string(line.substr(7));
    pos = nl == std::string::npos ? text.size() : nl + 1;
  }
  if (!guid || store->secret_.size() < 32)
    return store->Fail(MAPI_E_CORRUPT_DATA, idFile.string() + " is not a store id file");
  store->storeId_.assign(kStoreMagic.begin(), kStoreMagic.end());
  const auto bytes = GuidToBytes(*guid);
  store->storeId_.insert(store->storeId_.end(), bytes.begin(), bytes.end());
  out = std::move(store);
  return S_OK;
}

HRESULT MaildirStore::Fail(HRESULT hr, std::string text) const {
  std::lock_guard lock(errorMutex_);
  lastError_ = std::move(text);
  return hr;
}

std::string MaildirStore::lastError() const {
  std::lock_guard lock(errorMutex_);
  return lastError_;
}

fs::path MaildirStore::FolderPath(const std::string& folder) const {
  return folder.empty() ? root_ : root_ / folder;
}

EntryId MaildirStore::MessageId(const MaildirEntryId& id) const {
  EntryId e = storeId_;
  e.push_back('M');
  e.push_back(static_cast<std::uint8_t>(id.folder.size()));
  e.insert(e.end(), id.folder.begin(), id.folder.end());
  e.insert(e.end(), id.unique.begin(), id.unique.end());
  return e;
}

EntryId MaildirStore::FolderId(std::string_view maildirName) const {
  EntryId id = storeId_;
  id.push_back('F');
  id.insert(id.end(), maildirName.begin(), maildirName.end());
  return id;
}

HRESULT MaildirStore::CreateFolder(std::string_view maildirName) {
  if (maildirName.empty() || !ValidFolderName(maildirName)) return E_INVALIDARG;
  const fs::path dir = root_ / maildirName;
  const bool existed = IsDirectory(dir / "cur");
  for (const char* sub : {"", "cur", "new", "tmp"})
    if (const HRESULT hr = MakeDirectory(dir / sub); Failed(hr)) return hr;
  // Maildir++ marks a folder that a client may list with this empty file.
  Fd fd(::open((dir / "maildirfolder").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  return existed ? S_FALSE : S_OK;
}

HRESULT MaildirStore::CreateDefaultFolders() {
  for (const auto& k : kKnownFolders) {
    if (k.dir.empty()) continue;
    if (const HRESULT hr = CreateFolder(k.dir); Failed(hr)) return hr;
  }
  return S_OK;
}

HRESULT MaildirStore::DefaultFolder(FolderType type, EntryId& out) const {
  out.clear();
  for (const auto& k : kKnownFolders) {
    if (k.type != type) continue;
    if (!IsDirectory(FolderPath(std::string(k.dir)) / "cur")) return MAPI_E_NOT_FOUND;
    out = FolderId(k.dir);
    return S_OK;
  }
  return MAPI_E_NOT_FOUND;
}

HRESULT MaildirStore::Folders(std::vector<Folder>& out) const {
  out.clear();
  out.push_back(Folder{FolderId(""), "Inbox", FolderType::Inbox, {}});
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 2 || name[0] != '.' || name == ".." || !ValidFolderName(name)) continue;
    if (IsDirectory(it->path() / "cur")) names.push_back(name);
  }
  if (ec) return HresultFromErrno(ec.value());
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    Folder f;
    f.id = FolderId(name);
    const auto known = std::find_if(kKnownFolders.begin(), kKnownFolders.end(),
                                    [&](const KnownFolder& k) { return k.dir == name; });
    const auto lastDot = name.rfind('.');
    if (known != kKnownFolders.end()) {
      f.type = known->type;
      f.displayName = std::string(known->displayName);
    } else {
      f.displayName = name.substr(lastDot + 1);
      if (f.displayName.empty()) f.displayName = name;
    }
    // ".A.B" lives in ".A" when that folder is there.
    if (lastDot > 0) {
      const std::string parent = name.substr(0, lastDot);
      if (std::binary_search(names.begin(), names.end(), parent)) f.parent = FolderId(parent);
    }
    out.push_back(std::move(f));
  }
  return S_OK;
}

HRESULT MaildirStore::Messages(std::span<const std::uint8_t> folderId,
                               std::vector<EntryId>& out) const {
  out.clear();
  MaildirEntryId id;
  if (!ParseMaildirEntryId(folderId, storeId_, id)) return MAPI_E_NOT_FOUND;
  if (id.kind != 'F') return E_INVALIDARG;
  const fs::path dir = FolderPath(id.folder);
  if (!IsDirectory(dir / "cur")) return MAPI_E_NOT_FOUND;
  // Oldest first: Maildir names lead with the delivery second, and their numbers compare as
  // numbers ("Q9" before "Q10").
  std::vector<std::string> found;
  for (const char* sub : {"new", "cur"}) {
    std::error_code ec;
    for (fs::directory_iterator it(dir / sub, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::string_view unique;
      std::string flags;
      SplitFileName(name, unique, flags);
      if (!ValidUniqueName(unique)) continue;
      found.emplace_back(unique);
    }
    if (ec) return HresultFromErrno(ec.value());
  }
  std::sort(found.begin(), found.end(), NaturalLess);
  found.erase(std::unique(found.begin(), found.end()), found.end());
  for (const auto& unique : found) {
    out.push_back(MessageId({'M', id.folder, unique}));
  }
  return S_OK;
}

HRESULT MaildirStore::Locate(const MaildirEntryId& id, fs::path& out) const {
  const fs::path dir = FolderPath(id.folder);
  struct stat st {};
  if (::lstat((dir / "new" / id.unique).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    out = dir / "new" / id.unique;
    return S_OK;
  }
  // Usually in cur/ with its flags; a mail program may also have left flags on a name in new/.
  for (const char* sub : {"cur", "new"}) {
    std::error_code ec;
    for (fs::directory_iterator it(dir / sub, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::string_view unique;
      std::string flags;
      SplitFileName(name, unique, flags);
      if (unique == id.unique) {
        out = it->path();
        return S_OK;
      }
    }
  }
  return MAPI_E_NOT_FOUND;
}

HRESULT MaildirStore::MessagePath(std::span<const std::uint8_t> entryId, fs::path& out) const {
  MaildirEntryId id;
  if (!ParseMaildirEntryId(entryId, storeId_, id)) return MAPI_E_NOT_FOUND;
  if (id.kind != 'M') return E_INVALIDARG;
  return Locate(id, out);
}

HRESULT MaildirStore::ReadFile(const fs::path& path, std::string& out) const {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) {
    if (errno == ELOOP) return Fail(MAPI_E_CORRUPT_DATA, path.string() + " is a symbolic link");
    return LastErrno();
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return LastErrno();
  if (!S_ISREG(st.st_mode)) return Fail(MAPI_E_CORRUPT_DATA, path.string() + " is not a file");
  if (static_cast<std::uint64_t>(st.st_size) > kMaxMessageBytes)
    return Fail(MAPI_E_CORRUPT_DATA, path.string() + " is larger than the largest message read");
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastErrno();
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return S_OK;
}

HRESULT MaildirStore::Load(const MaildirEntryId& id, const fs::path& path, std::string& text,
                           Message& out) const {
  if (const HRESULT hr = ReadFile(path, text); Failed(hr)) return hr;
  MimeMessage mime;
  std::string error;
  if (!ParseMimeMessage(text, mime, error))
    return Fail(MAPI_E_CORRUPT_DATA, path.string() + ": " + error);
  out = Message{};
  out.storeEntryId = storeId_;
  out.folderId = FolderId(id.folder);
  out.entryId = MessageId(id);
  ReadStandardFields(mime, out);
  ReadOwnFields(mime, secret_, out);
  if (!out.messageClass) out.messageClass = std::string(kDefaultClass);
  std::string_view unique;
  std::string flags;
  SplitFileName(path.filename().string(), unique, flags);
  if (flags.find('S') != std::string::npos) out.messageFlags |= kMsgFlagRead;
  if (flags.find('D') != std::string::npos) out.messageFlags |= kMsgFlagUnsent;
  if (out.searchKey.size() < kSearchKeyBytes) {
    const HeaderField* messageId = FindHeader(mime.root.headers, "Message-ID");
    out.searchKey = messageId && !messageId->value.empty()
                        ? HashKey(messageId->value)
                        : HashKey(std::string(out.entryId.begin(), out.entryId.end()));
  }
  return S_OK;
}

HRESULT MaildirStore::OpenMessage(std::span<const std::uint8_t> entryId, Message& out) const {
  MaildirEntryId id;
  if (!ParseMaildirEntryId(entryId, storeId_, id)) return MAPI_E_NOT_FOUND;
  if (id.kind != 'M') return E_INVALIDARG;
  fs::path path;
  if (const HRESULT hr = Locate(id, path); Failed(hr)) return hr;
  std::string text;
  return Load(id, path, text, out);
}

std::string MaildirStore::NewUniqueName() const {
  // "<seconds>.M<microseconds>P<pid>Q<count>R<random>": unique within this host, and short,
  // since the add-in carries entry ids in bounded identifiers.
  const FileTime now = clock_.Now();
  const std::uint64_t unixTicks =
      now > static_cast<FileTime>(kFileTimeUnixEpochSeconds) * kFileTimeTicksPerSecond
          ? now - static_cast<FileTime>(kFileTimeUnixEpochSeconds) * kFileTimeTicksPerSecond
          : 0;
  Guid random;
  NewGuid(random);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%llu.M%lluP%dQ%uR%04x",
                static_cast<unsigned long long>(unixTicks / kFileTimeTicksPerSecond),
                static_cast<unsigned long long>(unixTicks % kFileTimeTicksPerSecond / 10),
                static_cast<int>(::getpid()), counter_.fetch_add(1) + 1, random.data1 & 0xFFFFu);
  return buf;
}

HRESULT MaildirStore::WriteAside(const fs::path& tmp, std::string_view text) const {
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) return Fail(LastErrno(), "cannot create " + tmp.string());
  ::fchmod(fd.get(), 0600);  // whatever the umask
  if (!WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
    const HRESULT hr = LastErrno();
    ::unlink(tmp.c_str());
    return Fail(hr, "cannot write " + tmp.string());
  }
  return S_OK;
}

HRESULT MaildirStore::Deliver(std::span<const std::uint8_t> folderId, std::string_view text,
                              EntryId& out) {
  out.clear();
  MaildirEntryId id;
  if (!ParseMaildirEntryId(folderId, storeId_, id) || id.kind != 'F') return MAPI_E_NOT_FOUND;
  const fs::path dir = FolderPath(id.folder);
  if (!IsDirectory(dir / "new")) return MAPI_E_NOT_FOUND;
  MimeMessage mime;
  std::string error;
  if (!ParseMimeMessage(text, mime, error)) return Fail(MAPI_E_CORRUPT_DATA, error);
  id.kind = 'M';
  id.unique = NewUniqueName();
  const fs::path tmp = dir / "tmp" / id.unique;
  if (const HRESULT hr = WriteAside(tmp, text); Failed(hr)) return hr;
  bool linked = false;
  for (int tries = 0; !linked && tries < kNameTries; ++tries) {
    if (tries > 0) id.unique = NewUniqueName();
    linked = ::link(tmp.c_str(), (dir / "new" / id.unique).c_str()) == 0;
    if (!linked && errno != EEXIST) break;
  }
  const HRESULT hr = linked ? S_OK : LastErrno();
  ::unlink(tmp.c_str());
  if (!linked) return Fail(hr, "cannot move the mail into " + (dir / "new").string());
  SyncDirectory(dir / "new");
  out = MessageId(id);
  return S_OK;
}

HRESULT MaildirStore::SaveMessage(Message& message) {
  const bool isNew = message.entryId.empty();
  MaildirEntryId id;
  fs::path oldPath;
  std::string oldText;
  Message old;
  MimeMessage oldMime;
  if (isNew) {
    if (!ParseMaildirEntryId(message.folderId, storeId_, id) || id.kind != 'F')
      return Fail(E_INVALIDARG, "a new message needs a folder of this store");
    if (!IsDirectory(FolderPath(id.folder) / "cur")) return MAPI_E_NOT_FOUND;
    id.kind = 'M';
    id.unique = NewUniqueName();
  } else {
    if (!ParseMaildirEntryId(message.entryId, storeId_, id)) return MAPI_E_NOT_FOUND;
    if (id.kind != 'M') return E_INVALIDARG;
    if (const HRESULT hr = Locate(id, oldPath); Failed(hr)) return hr;
    if (const HRESULT hr = Load(id, oldPath, oldText, old); Failed(hr)) return hr;
    std::string error;
    ParseMimeMessage(oldText, oldMime, error);  // read once already by Load
  }
  // Values we write into header lines must not be able to break out of them.
  for (const auto* a : {&message.senderAddress})
    if (*a && !SafeAddress(**a)) return Fail(E_INVALIDARG, "the sender address is not valid");
  for (const auto& r : message.recipients)
    if (!SafeAddress(r.address)) return Fail(E_INVALIDARG, "a recipient address is not valid");
  if (message.messageClass && !SafeAddress(*message.messageClass))
    return Fail(E_INVALIDARG, "the message class is not valid");
  if (message.htmlCharset && !message.htmlCharset->empty() && !SafeAddress(*message.htmlCharset))
    return Fail(E_INVALIDARG, "the HTML body's charset is not valid");

  Message& m = message;
  if (isNew) {
    if (!m.deliveryTime) m.deliveryTime = clock_.NowDate();
  }
  std::string head;  // our lines, then the kept and rewritten standard fields
  std::string messageIdValue;
  if (isNew) {
    Guid g;
    NewGuid(g);
    messageIdValue = "<" + Hex(GuidToBytes(g)) + "@quillon-vesper.invalid>";
  }
  EntryId searchKey = !isNew ? old.searchKey
                     : m.searchKey.size() >= kSearchKeyBytes ? m.searchKey
                                                             : HashKey(messageIdValue);
  head += "X-Qv-Store: " + secret_ + "\n";
  head += "X-Qv-Search-Key: " + Hex(searchKey) + "\n";
  if (m.messageClass && *m.messageClass != kDefaultClass)
    head += "X-Qv-Message-Class: " + *m.messageClass + "\n";
  if (const std::uint32_t flags = m.messageFlags & ~kMsgFlagRead; flags != 0)
    head += "X-Qv-Flags: " + std::to_string(flags) + "\n";
  if (m.startDate) head += "X-Qv-Start: " + FormatDouble(*m.startDate) + "\n";
  if (m.endDate) head += "X-Qv-End: " + FormatDouble(*m.endDate) + "\n";
  for (const auto& [nid, value] : m.named) {
    head += "X-Qv-Named: " + FormatGuid(nid.set) + "/" + std::to_string(nid.id);
    if (const auto* l = std::get_if<std::int32_t>(&value)) head += "/long/" + std::to_string(*l);
    else head += "/double/" + FormatDouble(std::get<double>(value));
    head += "\n";
  }
  // Which groups of standard fields changed; unchanged ones keep their bytes.
  const bool fromChanged = isNew || !SameText(old.senderName, m.senderName) ||
                           !SameText(old.senderAddress, m.senderAddress);
  const bool recipientsChanged = isNew || old.recipients != m.recipients;
  const bool subjectChanged =
      isNew || !SameText(old.subjectPrefix, m.subjectPrefix) ||
      !SameText(old.normalizedSubject, m.normalizedSubject);
  const bool dateChanged = isNew || old.deliveryTime != m.deliveryTime;
  const bool bodyChanged =
      isNew || !SameText(old.bodyPlain, m.bodyPlain) || !SameText(old.bodyHtml, m.bodyHtml) ||
      (m.bodyHtml && !SameText(old.htmlCharset, m.htmlCharset)) ||
      old.bodyRtfCompressed.value_or(std::vector<std::uint8_t>{}) !=
          m.bodyRtfCompressed.value_or(std::vector<std::uint8_t>{});
  std::string kept;
  for (const auto& f : oldMime.root.headers) {
    if (f.name.starts_with(kOwnPrefix)) continue;
    if (fromChanged && EqualsNoCase(f.name, "From")) continue;
    if (recipientsChanged &&
        (EqualsNoCase(f.name, "To") || EqualsNoCase(f.name, "Cc") || EqualsNoCase(f.name, "Bcc")))
      continue;
    if (subjectChanged && EqualsNoCase(f.name, "Subject")) continue;
    if (dateChanged && EqualsNoCase(f.name, "Date")) continue;
    if (bodyChanged && IsContentField(f.name)) continue;
    kept += f.raw;
    if (!f.raw.ends_with('\n')) kept += '\n';
  }
  if (!messageIdValue.empty()) head += "Message-ID: " + messageIdValue + "\n";
  if (dateChanged && m.deliveryTime) head += "Date: " + FormatMailDate(*m.deliveryTime) + "\n";
  if (fromChanged && (m.senderName || m.senderAddress))
    head += AddressField("From", {{m.senderName.value_or(""), m.senderAddress.value_or("")}});
  if (recipientsChanged) {
    for (const auto type : {RecipientType::To, RecipientType::Cc, RecipientType::Bcc}) {
      std::vector<MailAddress> list;
      for (const auto& r : m.recipients)
        if (r.type == type) list.push_back({r.name, r.address});
      if (list.empty()) continue;
      head += AddressField(type == RecipientType::To ? "To" : type == RecipientType::Cc ? "Cc" : "Bcc",
                           list);
    }
  }
  if (subjectChanged && (m.subjectPrefix || m.normalizedSubject))
    head += "Subject: " +
            EncodeHeaderText(m.subjectPrefix.value_or("") + m.normalizedSubject.value_or("")) +
            "\n";
  std::string text = head + kept;
  if (bodyChanged) {
    Guid g;
    NewGuid(g);
    text += ComposeBody(m, "=_qv_" + Hex(GuidToBytes(g)));
  } else {
    // The original blank line and body, byte for byte.
    const std::size_t at = std::min(oldMime.headerBytes, oldText.size());
    std::string_view body = std::string_view(oldText).substr(at);
    text += "\n";
    text += body;
  }

  // Write aside in tmp/, flush, then move into place: a failure leaves the old file.
  const fs::path dir = FolderPath(id.folder);
  const fs::path tmp = dir / "tmp" / (NewUniqueName() + ".saving");
  if (const HRESULT hr = WriteAside(tmp, text); Failed(hr)) return hr;
  std::string flags;
  std::string_view unique;
  if (!isNew) SplitFileName(oldPath.filename().string(), unique, flags);
  flags = WithFlag(flags, 'S', (m.messageFlags & kMsgFlagRead) != 0);
  flags = WithFlag(flags, 'D', (m.messageFlags & kMsgFlagUnsent) != 0);
  fs::path target = dir / "cur" / (id.unique + ":2," + flags);
  if (isNew) {
    // link() never replaces: a name another writer took in the same instant gets a new one.
    int tries = 0;
    while (::link(tmp.c_str(), target.c_str()) != 0) {
      if (errno != EEXIST || ++tries == kNameTries) {
        const HRESULT hr = LastErrno();
        ::unlink(tmp.c_str());
        return Fail(hr, "cannot move the new message into " + (dir / "cur").string());
      }
      id.unique = NewUniqueName();
      target = dir / "cur" / (id.unique + ":2," + flags);
    }
    ::unlink(tmp.c_str());
  } else {
    // Replace the old file in place, then give it its new flags.
    if (::rename(tmp.c_str(), oldPath.c_str()) != 0) {
      const HRESULT hr = LastErrno();
      ::unlink(tmp.c_str());
      return Fail(hr, "cannot replace " + oldPath.string());
    }
    if (oldPath != target && ::rename(oldPath.c_str(), target.c_str()) == 0)
      SyncDirectory(oldPath.parent_path());
  }
  SyncDirectory(dir / "cur");
  m.entryId = MessageId(id);
  m.storeEntryId = storeId_;
  m.folderId = FolderId(id.folder);
  m.searchKey = std::move(searchKey);
  if (!m.messageClass) m.messageClass = std::string(kDefaultClass);
  return S_OK;
}

HRESULT MaildirStore::DeleteMessage(std::span<const std::uint8_t> entryId) {
  MaildirEntryId id;
  if (!ParseMaildirEntryId(entryId, storeId_, id)) return MAPI_E_NOT_FOUND;
  if (id.kind != 'M') return E_INVALIDARG;
  fs::path path;
  if (const HRESULT hr = Locate(id, path); Failed(hr)) return hr;
  if (::unlink(path.c_str()) != 0) return errno == ENOENT ? MAPI_E_NOT_FOUND : LastErrno();
  SyncDirectory(path.parent_path());
  return S_OK;
}

HRESULT MaildirStore::SetReadFlag(std::span<const std::uint8_t> entryId, bool read) {
  MaildirEntryId id;
  if (!ParseMaildirEntryId(entryId, storeId_, id)) return MAPI_E_NOT_FOUND;
  if (id.kind != 'M') return E_INVALIDARG;
  fs::path path;
  if (const HRESULT hr = Locate(id, path); Failed(hr)) return hr;
  std::string_view unique;
  std::string flags;
  const std::string name = path.filename().string();
  SplitFileName(name, unique, flags);
  const fs::path target =
      FolderPath(id.folder) / "cur" / (id.unique + ":2," + WithFlag(flags, 'S', read));
  if (target == path) return S_OK;
  if (::rename(path.c_str(), target.c_str()) != 0)
    return errno == ENOENT ? MAPI_E_NOT_FOUND : LastErrno();
  SyncDirectory(target.parent_path());
  return S_OK;
}

}  // namespace qv::platform::mail
