#include "provider/urlmon/shortcut_file.h"

#include <cstring>

#include "common/utf.h"
#include "platform/propset/property_set.h"
#include "platform/urlcache/file_io.h"
#include "provider/urlmon/private_urls.h"
#include "provider/urlmon/shortcut_format.h"

namespace qv::urlmon {
namespace fs = std::filesystem;
using platform::PropertySet;
using platform::PropVariant;

namespace {

class Writer {
 public:
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Raw(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void Raw(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
  // A counted UTF-16LE string with its terminating NUL; empty text is "no string".
  void Text(std::string_view utf8) {
    if (utf8.empty()) {
      U32(0);
      return;
    }
    auto bytes = Utf8ToUtf16LeBytes(utf8);
    bytes.push_back(0);
    bytes.push_back(0);
    U32(static_cast<std::uint32_t>(bytes.size()));
    Raw(bytes);
  }
  std::vector<std::uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
  std::size_t Remaining() const { return b_.size() - pos_; }
  bool U32(std::uint32_t& v) {
    if (Remaining() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{b_[pos_ + i]} << (8 * i);
    pos_ += 4;
    return true;
  }
  bool Bytes(std::size_t n, std::span<const std::uint8_t>& out) {
    if (n > Remaining()) return false;
    out = b_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  // Refuses odd counts, a missing terminator, a NUL inside the text and text that is not
  // UTF-16, so that what is read writes back to the same bytes.
  bool Text(std::string& out) {
    std::uint32_t n = 0;
    std::span<const std::uint8_t> bytes;
    if (!U32(n) || !Bytes(n, bytes)) return false;
    if (n == 0) {
      out.clear();
      return true;
    }
    if (n % 2 != 0 || n < 4 || bytes[n - 1] != 0 || bytes[n - 2] != 0) return false;
    const auto text = bytes.first(n - 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
      if (text[i] == 0 && text[i + 1] == 0) return false;
    }
    bool ok = true;
    out = Utf16LeBytesToUtf8(text, &ok);
    return ok;
  }

 private:
  std::span<const std::uint8_t> b_;
  std::size_t pos_ = 0;
};

PropertySet SummarySet(const Shortcut& s) {
  PropertySet ps;
  ps.fmtid = q6w::kSummaryFmtid;
  ps.clsid = q6w::kSummaryFmtid;
  ps.codePage = platform::kCodePageUnicode;
  ps.values[q6w::kPidTitle] = PropVariant::Lpwstr(s.title);
  ps.values[q6w::kPidZone] = PropVariant::I4(s.zone);
  return ps;
}

PropertySet UserDefinedSet(const Shortcut& s) {
  PropertySet ps;
  ps.fmtid = q6w::kUserDefinedFmtid;
  ps.clsid = q6w::kUserDefinedFmtid;
  ps.codePage = platform::kCodePageUnicode;
  ps.names[q6w::kPidUrl] = std::string(q6w::kUrlPropertyName);
  ps.values[q6w::kPidUrl] = PropVariant::Lpwstr(s.url);
  return ps;
}

HRESULT ReadSet(std::span<const std::uint8_t> bytes, const Guid& fmtid, PropertySet& out) {
  if (const HRESULT hr = platform::ParsePropertySet(bytes, out); Failed(hr)) return hr;
  return out.fmtid == fmtid ? S_OK : STG_E_DOCFILECORRUPT;
}

}  // namespace

ContentKind KindOfType(std::string_view t) {
  if (EqualsNoCase(t, "text/html")) return kKindHtml;
  if (EqualsNoCase(t, "text/xml")) return kKindXml;
  if (EqualsNoCase(t, "text/plain")) return kKindText;
  return kKindOther;
}

std::vector<std::uint8_t> SerializeContents(std::span<const PagePart> parts) {
  Writer w;
  w.U32(q6w::kContentsVersion);
  w.U32(static_cast<std::uint32_t>(parts.size()));
  for (const auto& p : parts) {
    w.Text(p.url);
    w.U32(std::uint32_t{p.flags} << 16 | p.kind);
    w.U32(p.size);
    w.Text(p.charset);
    w.Text(p.copy);
  }
  return w.Take();
}

HRESULT ParseContents(std::span<const std::uint8_t> bytes, std::vector<PagePart>& out) {
  Reader r(bytes);
  std::uint32_t version = 0, count = 0;
  if (!r.U32(version) || version != q6w::kContentsVersion || !r.U32(count)) {
    return STG_E_DOCFILECORRUPT;
  }
  // The count is believed only as far as the stream can hold that many parts.
  if (count > r.Remaining() / q6w::kMinPartBytes) return STG_E_DOCFILECORRUPT;
  std::vector<PagePart> parts(count);
  for (auto& p : parts) {
    std::uint32_t kindFlags = 0;
    if (!r.Text(p.url) || p.url.empty() || !r.U32(kindFlags) || !r.U32(p.size) ||
        !r.Text(p.charset) || !r.Text(p.copy)) {
      return STG_E_DOCFILECORRUPT;
    }
    p.kind = static_cast<std::uint16_t>(kindFlags & 0xFFFF);
    p.flags = static_cast<std::uint16_t>(kindFlags >> 16);
  }
  if (r.Remaining() != 0) return STG_E_DOCFILECORRUPT;
  out = std::move(parts);
  return S_OK;
}

std::vector<std::uint8_t> SerializeShortcut(const Shortcut& s) {
  const std::pair<std::string_view, std::vector<std::uint8_t>> streams[] = {
      {q6w::kContentsStream, SerializeContents(s.parts)},
      {q6w::kSummaryStream, platform::SerializePropertySet(SummarySet(s))},
      {q6w::kUserDefinedStream, platform::SerializePropertySet(UserDefinedSet(s))},
  };
  Writer w;
  w.Raw(q6w::kMagic);
  w.U32(q6w::kContainerVersion);
  w.U32(static_cast<std::uint32_t>(std::size(streams)));
  for (const auto& [name, data] : streams) {
    w.U32(static_cast<std::uint32_t>(name.size()));
    w.Raw(name);
    w.U32(static_cast<std::uint32_t>(data.size()));
    w.Raw(data);
  }
  return w.Take();
}

HRESULT ParseShortcut(std::span<const std::uint8_t> bytes, Shortcut& out) {
  if (bytes.size() > q6w::kMaxFileSize) return STG_E_DOCFILECORRUPT;
  Reader r(bytes);
  std::span<const std::uint8_t> magic;
  std::uint32_t version = 0, count = 0;
  if (!r.Bytes(q6w::kMagic.size(), magic) ||
      std::memcmp(magic.data(), q6w::kMagic.data(), magic.size()) != 0 || !r.U32(version) ||
      version != q6w::kContainerVersion) {
    return STG_E_INVALIDHEADER;
  }
  if (!r.U32(count) || count > q6w::kMaxStreams) return STG_E_DOCFILECORRUPT;
  std::span<const std::uint8_t> contents, summary, user;
  bool haveContents = false, haveSummary = false, haveUser = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t nameLen = 0, dataLen = 0;
    std::span<const std::uint8_t> name, data;
    if (!r.U32(nameLen) || nameLen == 0 || nameLen > q6w::kMaxStreamName ||
        !r.Bytes(nameLen, name) || !r.U32(dataLen) || !r.Bytes(dataLen, data)) {
      return STG_E_DOCFILECORRUPT;
    }
    const std::string_view n(reinterpret_cast<const char*>(name.data()), name.size());
    auto take = [&](std::string_view want, std::span<const std::uint8_t>& to, bool& have) {
      if (n != want) return true;
      if (have) return false;  // a stream twice is damage, not a choice
      to = data;
      have = true;
      return true;
    };
    if (!take(q6w::kContentsStream, contents, haveContents) ||
        !take(q6w::kSummaryStream, summary, haveSummary) ||
        !take(q6w::kUserDefinedStream, user, haveUser)) {
      return STG_E_DOCFILECORRUPT;
    }
  }
  if (r.Remaining() != 0 || !haveContents) return STG_E_DOCFILECORRUPT;

  Shortcut s;
  if (const HRESULT hr = ParseContents(contents, s.parts); Failed(hr)) return hr;
  if (haveSummary) {
    PropertySet ps;
    if (Failed(ReadSet(summary, q6w::kSummaryFmtid, ps))) return STG_E_DOCFILECORRUPT;
    if (auto it = ps.values.find(q6w::kPidTitle); it != ps.values.end()) s.title = it->second.str;
    if (auto it = ps.values.find(q6w::kPidZone); it != ps.values.end()) s.zone = it->second.i4;
  }
  if (haveUser) {
    PropertySet ps;
    if (Failed(ReadSet(user, q6w::kUserDefinedFmtid, ps))) return STG_E_DOCFILECORRUPT;
    for (const auto& [pid, name] : ps.names) {
      if (EqualsNoCase(name, q6w::kUrlPropertyName) && ps.values.count(pid)) {
        s.url = ps.values.at(pid).str;
      }
    }
  }
  out = std::move(s);
  return S_OK;
}

HRESULT ReadShortcutFile(const fs::path& file, Shortcut& out) {
  std::vector<std::uint8_t> bytes;
  const std::int32_t err = platform::ReadWholeFile(file, q6w::kMaxFileSize, bytes);
  if (err == win32::ERROR_FILE_NOT_FOUND) {
    std::error_code ec;
    return fs::is_directory(file.parent_path(), ec) ? STG_E_FILENOTFOUND : STG_E_PATHNOTFOUND;
  }
  if (err == win32::ERROR_PATH_NOT_FOUND) return STG_E_PATHNOTFOUND;
  if (err == win32::ERROR_INVALID_DATA) return STG_E_DOCFILECORRUPT;
  if (err != 0) return HresultFromWin32(err);
  return ParseShortcut(bytes, out);
}

HRESULT CreateShortcutFile(const fs::path& file, const Shortcut& s) {
  const auto bytes = SerializeShortcut(s);
  if (bytes.size() > q6w::kMaxFileSize) return STG_E_MEDIUMFULL;
  const std::int32_t err = platform::CreateFileExclusive(file, bytes);
  if (err == win32::ERROR_FILE_EXISTS) return STG_E_FILEALREADYEXISTS;
  return HresultFromWin32(err);
}

std::string StoredCopyPath(const fs::path& cacheFolder, const fs::path& copy) {
  if (platform::IsBelowFolder(cacheFolder, copy)) {
    return copy.lexically_normal().lexically_relative(cacheFolder.lexically_normal()).generic_string();
  }
  return copy.lexically_normal().string();
}

HRESULT ResolveCopyPath(const fs::path& cacheFolder, std::string_view stored, fs::path& out) {
  if (stored.empty() || stored.find('\0') != std::string_view::npos) return E_ACCESSDENIED;
  const fs::path p(stored);
  const fs::path full = p.is_absolute() ? p : cacheFolder / p;
  for (const auto& part : p) {
    if (part == "..") return E_ACCESSDENIED;
  }
  if (!platform::IsBelowFolder(cacheFolder, full)) return E_ACCESSDENIED;
  out = full.lexically_normal();
  return S_OK;
}

}  // namespace qv::urlmon
