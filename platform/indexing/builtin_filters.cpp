#include "platform/indexing/builtin_filters.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

#include "common/utf.h"
#include "platform/indexing/regular_file.h"

namespace qv::platform::indexing {
namespace {

// Windows-1252 code points for 0x80..0x9F; the rest of the range is ISO-8859-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void AppendCodePoint(std::string& out, std::uint32_t cp) {
  AppendUtf8(out, cp == 0 ? 0xFFFD : cp);  // a NUL would end the text early
}

bool IsValidUtf8(std::string_view s) {
  bool ok = true;
  Utf8ToUtf16(s, &ok);
  return ok;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view word) {
  return s.size() - std::min(at, s.size()) >= word.size() &&
         EqualsNoCase(s.substr(at, word.size()), word);
}

std::size_t FindNoCase(std::string_view s, std::string_view word, std::size_t from) {
  for (std::size_t i = from; i + word.size() <= s.size(); ++i) {
    if (StartsWithNoCase(s, i, word)) return i;
  }
  return std::string_view::npos;
}

// The charset named by the first "charset=" or encoding="..." in the head of a document.
std::string DeclaredCharset(std::string_view head, std::string_view marker) {
  const auto at = FindNoCase(head, marker, 0);
  if (at == std::string_view::npos) return {};
  std::size_t i = at + marker.size();
  while (i < head.size() && (head[i] == '"' || head[i] == '\'' || head[i] == ' ')) ++i;
  std::size_t j = i;
  while (j < head.size() && (std::isalnum(static_cast<unsigned char>(head[j])) ||
                             head[j] == '-' || head[j] == '_')) {
    ++j;
  }
  return AsciiLower(head.substr(i, j - i));
}

bool IsLatinCharset(std::string_view cs) {
  return cs == "iso-8859-1" || cs == "latin1" || cs == "windows-1252" || cs == "cp1252" ||
         cs == "us-ascii" || cs == "iso-8859-15";
}

std::string DecodeWithCharset(std::string_view bytes, std::string_view charset) {
  if (IsLatinCharset(charset) && !IsValidUtf8(bytes)) return Latin1ToUtf8(bytes);
  return DecodeText(bytes);
}

// Collapses the separators that markup leaves behind into single blanks.
void AppendSeparator(std::string& out) {
  if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
}

const std::pair<std::string_view, std::uint32_t> kNamedEntities[] = {
    {"amp", '&'},     {"lt", '<'},       {"gt", '>'},       {"quot", '"'},    {"apos", '\''},
    {"nbsp", 0xA0},   {"copy", 0xA9},    {"reg", 0xAE},     {"eacute", 0xE9}, {"egrave", 0xE8},
    {"agrave", 0xE0}, {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},   {"szlig", 0xDF},
    {"ccedil", 0xE7}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013}, {"euro", 0x20AC},
};

class BufferedFilter : public Filter {
 public:
  using Extract = ExtractedText (*)(std::string_view);
  BufferedFilter(Guid clsid, Extract extract) : clsid_(clsid), extract_(extract) {}

  HRESULT Load(const std::filesystem::path& file) override {
    std::lock_guard lock(mutex_);
    path_ = file;
    loaded_ = true;
    return S_OK;
  }

  HRESULT Init(std::uint32_t, std::uint32_t& outFlags) override {
    std::lock_guard lock(mutex_);
    outFlags = 0;
    doc_ = {};
    next_ = 0;
    current_ = 0;
    offset_ = 0;
    ids_ = 0;
    if (!loaded_) return E_FAIL;
    std::string bytes;
    const HRESULT hr = ReadFile(bytes);
    if (Failed(hr)) return hr;
    doc_ = extract_(bytes);
    return S_OK;
  }

  HRESULT GetChunk(StatChunk& chunk) override {
    // Chunk 1: the contents (when any); chunk 2: the title as a value (when any).
    while (next_ < 2) {
      const int which = next_++;
      if (which == 0 && !doc_.text.empty()) {
        current_ = 1;
        offset_ = 0;
        chunk = StatChunk{};
        chunk.idChunk = ++ids_;
        chunk.breakType = BreakType::EndOfChapter;
        chunk.flags = ChunkState::Text;
        chunk.attribute = {kStoragePropSet, kPidContents};
        chunk.idChunkSource = chunk.idChunk;
        return S_OK;
      }
      if (which == 1 && !doc_.title.empty()) {
        current_ = 2;
        valueTaken_ = false;
        chunk = StatChunk{};
        chunk.idChunk = ++ids_;
        chunk.breakType = BreakType::EndOfChapter;
        chunk.flags = ChunkState::Value;
        chunk.attribute = {kSummaryInfoPropSet, kPidTitle};
        chunk.idChunkSource = chunk.idChunk;
        return S_OK;
      }
    }
    current_ = 0;
    return FILTER_E_END_OF_CHUNKS;
  }

  HRESULT GetText(std::string& out, std::size_t maxBytes) override {
    if (current_ != 1 || offset_ >= doc_.text.size()) return FILTER_E_NO_MORE_TEXT;
    maxBytes = std::max<std::size_t>(maxBytes, 4);
    std::size_t end = std::min(doc_.text.size(), offset_ + maxBytes);
    // Never split a UTF-8 sequence: back up to the start of a character.
    while (end < doc_.text.size() && end > offset_ &&
           (static_cast<unsigned char>(doc_.text[end]) & 0xC0) == 0x80) {
      --end;
    }
    out.append(doc_.text, offset_, end - offset_);
    offset_ = end;
    return offset_ >= doc_.text.size() ? FILTER_S_LAST_TEXT : S_OK;
  }

  HRESULT GetValue(PropVariant& out) override {
    if (current_ != 2 || valueTaken_) return FILTER_E_NO_VALUES;
    valueTaken_ = true;
    out = PropVariant::Lpwstr(doc_.title);
    return S_OK;
  }

  Guid GetClassID() const override { return clsid_; }

 private:
  HRESULT ReadFile(std::string& bytes) const {
    UniqueFd fd;
    if (Failed(OpenRegularFile(path_, fd))) return FILTER_E_ACCESS;
    char buf[65536];
    while (bytes.size() < kMaxFilteredBytes) {
      const ssize_t n =
          read(fd.get(), buf, std::min(sizeof buf, kMaxFilteredBytes - bytes.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FILTER_E_ACCESS;
      if (n == 0) break;
      bytes.append(buf, static_cast<std::size_t>(n));
    }
    return S_OK;
  }

  const Guid clsid_;
  const Extract extract_;
  std::mutex mutex_;
  std::filesystem::path path_;
  bool loaded_ = false;
  ExtractedText doc_;
  int next_ = 0;
  int current_ = 0;  // 0 none, 1 text, 2 value
  std::size_t offset_ = 0;
  bool valueTaken_ = false;
  std::uint32_t ids_ = 0;
};

HRESULT SetDefault(Registry& reg, const std::string& key, const std::string& value) {
  return HresultFromWin32(reg.SetValue(Hive::ClassesRoot, key, "", RegValue::Sz(value)));
}

}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0) {
      AppendCodePoint(out, kCp1252High[c - 0x80]);
    } else {
      AppendCodePoint(out, c);
    }
  }
  return out;
}

std::string DecodeText(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
    const bool big = bytes[0] == '\xFE';
    std::u16string u;
    u.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto a = static_cast<unsigned char>(bytes[i]);
      const auto b = static_cast<unsigned char>(bytes[i + 1]);
      u += static_cast<char16_t>(big ? (a << 8 | b) : (b << 8 | a));
    }
    return Utf16ToUtf8(u);
  }
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Latin1ToUtf8(bytes);
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, amp - i));
    const auto semi = text.find(';', amp);
    // References are short; a lone "&" stays as written.
    if (semi == std::string_view::npos || semi - amp > 12 || semi == amp + 1) {
      out += '&';
      i = amp + 1;
      continue;
    }
    const std::string_view name = text.substr(amp + 1, semi - amp - 1);
    bool done = false;
    if (name[0] == '#') {
      std::uint32_t cp = 0;
      const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
      const std::string_view digits = name.substr(hex ? 2 : 1);
      bool ok = !digits.empty();
      for (char c : digits) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? (std::tolower(static_cast<unsigned char>(c)) - 'a' + 10)
                          : -1;
        if (d < 0 || cp > 0x10FFFF) {
          ok = false;
          break;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      }
      if (ok) {
        AppendCodePoint(out, cp);
        done = true;
      }
    } else {
      for (const auto& [n, cp] : kNamedEntities) {
        if (name == n) {
          AppendCodePoint(out, cp);
          done = true;
          break;
        }
      }
    }
    if (done) {
      i = semi + 1;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
  return out;
}

ExtractedText ExtractPlainText(std::string_view bytes) {
  ExtractedText t;
  t.text = DecodeText(bytes);
  return t;
}

ExtractedText ExtractHtml(std::string_view bytes) {
  const std::string charset = DeclaredCharset(bytes.substr(0, 4096), "charset=");
  const std::string doc = DecodeWithCharset(bytes, charset);
  const std::string_view s = doc;
  ExtractedText t;
  std::string raw;
  raw.reserve(s.size());
  std::size_t i = 0;
  bool inTitle = false;
  std::string title;
  while (i < s.size()) {
    if (s[i] != '<') {
      const auto lt = s.find('<', i);
      const auto end = lt == std::string_view::npos ? s.size() : lt;
      (inTitle ? title : raw).append(s.substr(i, end - i));
      i = end;
      continue;
    }
    if (s.substr(i, 4) == "<!--") {
      const auto end = s.find("-->", i + 4);
      i = end == std::string_view::npos ? s.size() : end + 3;
      continue;
    }
    const auto gt = s.find('>', i);
    if (gt == std::string_view::npos) break;  // an unclosed tag ends the document
    std::string_view tag = s.substr(i + 1, gt - i - 1);
    const bool closing = !tag.empty() && tag.front() == '/';
    if (closing) tag.remove_prefix(1);
    std::size_t n = 0;
    while (n < tag.size() && std::isalnum(static_cast<unsigned char>(tag[n]))) ++n;
    const std::string name = AsciiLower(tag.substr(0, n));
    i = gt + 1;
    if (!closing && (name == "script" || name == "style")) {
      const auto end = FindNoCase(s, "</" + name, i);
      i = end == std::string_view::npos ? s.size() : end;
      continue;
    }
    if (name == "title") {
      inTitle = !closing;
      continue;
    }
    AppendSeparator(inTitle ? title : raw);
  }
  t.text = DecodeEntities(raw);
  t.title = DecodeEntities(title);
  // Titles are one line.
  std::replace_if(t.title.begin(), t.title.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
  while (!t.title.empty() && t.title.back() == ' ') t.title.pop_back();
  while (!t.title.empty() && t.title.front() == ' ') t.title.erase(0, 1);
  return t;
}

ExtractedText ExtractXml(std::string_view bytes) {
  const std::string charset = DeclaredCharset(bytes.substr(0, 512), "encoding=");
  const std::string doc = DecodeWithCharset(bytes, charset);
  const std::string_view s = doc;
  ExtractedText t;
  std::string raw;
  raw.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '<') {
      const auto lt = s.find('<', i);
      const auto end = lt == std::string_view::npos ? s.size() : lt;
      raw.append(DecodeEntities(s.substr(i, end - i)));
      i = end;
      continue;
    }
    auto skipTo = [&](std::string_view close, std::size_t from) {
      const auto end = s.find(close, from);
      return end == std::string_view::npos ? s.size() : end + close.size();
    };
    if (s.substr(i, 9) == "<![CDATA[") {
      const auto end = s.find("]]>", i + 9);
      const auto stop = end == std::string_view::npos ? s.size() : end;
      raw.append(s.substr(i + 9, stop - i - 9));
      i = end == std::string_view::npos ? s.size() : end + 3;
      AppendSeparator(raw);
    } else if (s.substr(i, 4) == "<!--") {
      i = skipTo("-->", i + 4);
    } else if (s.substr(i, 2) == "<?") {
      i = skipTo("?>", i + 2);
    } else {
      i = skipTo(">", i + 1);
      AppendSeparator(raw);
    }
  }
  t.text = std::move(raw);
  return t;
}

void RegisterBuiltinFilterClasses(ClassRegistry& classes) {
  const struct {
    Guid clsid;
    const char* progId;
    BufferedFilter::Extract extract;
  } filters[] = {
      {kTextFilterClsid, "Quillon.TextFilter.1", &ExtractPlainText},
      {kHtmlFilterClsid, "Quillon.HtmlFilter.1", &ExtractHtml},
      {kXmlFilterClsid, "Quillon.XmlFilter.1", &ExtractXml},
  };
  for (const auto& f : filters) {
    const Guid clsid = f.clsid;
    const auto extract = f.extract;
    classes.Register(clsid, f.progId, "", [clsid, extract](std::shared_ptr<ComObject>& out) {
      out = std::make_shared<BufferedFilter>(clsid, extract);
      return S_OK;
    });
  }
}

HRESULT RegisterBuiltinFilterExtensions(Registry& registry) {
  const struct {
    Guid handler;
    Guid filter;
    std::initializer_list<const char*> extensions;
  } kinds[] = {
      {kTextHandlerClsid, kTextFilterClsid, {".txt", ".text", ".log", ".md", ".csv", ".ini"}},
      {kHtmlHandlerClsid, kHtmlFilterClsid, {".htm", ".html", ".xhtml"}},
      {kXmlHandlerClsid, kXmlFilterClsid, {".xml", ".svg"}},
  };
  for (const auto& k : kinds) {
    const std::string addin = "CLSID\\" + FormatGuid(k.handler) +
                              "\\PersistentAddinsRegistered\\" + FormatGuid(kFilterInterfaceId);
    if (!registry.KeyExists(Hive::ClassesRoot, addin)) {
      HRESULT hr = SetDefault(registry, addin, FormatGuid(k.filter));
      if (Failed(hr)) return hr;
    }
    for (const char* ext : k.extensions) {
      const std::string key = std::string(ext) + "\\PersistentHandler";
      if (registry.KeyExists(Hive::ClassesRoot, key)) continue;
      HRESULT hr = SetDefault(registry, key, FormatGuid(k.handler));
      if (Failed(hr)) return hr;
    }
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
