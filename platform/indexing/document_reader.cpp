#include "platform/indexing/document_reader.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "common/utf.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/regular_file.h"
#include "platform/propset/property_store.h"

namespace qv::platform::indexing {
namespace {

constexpr std::size_t kTextPiece = 64 * 1024;
constexpr std::size_t kSniffBytes = 4096;
constexpr std::string_view kPropSetAttributePrefix = "user.quillon.";
// The summary information set's author and dates (PIDSI_AUTHOR, _CREATE_DTM, _LASTSAVE_DTM).
constexpr std::uint32_t kPidAuthor = 4;
constexpr std::uint32_t kPidCreated = 12;
constexpr std::uint32_t kPidLastSaved = 13;

std::optional<Guid> RegistryGuid(const Registry& reg, const std::string& key) {
  RegValue v;
  if (reg.GetValue(Hive::ClassesRoot, key, "", v) != 0) return std::nullopt;
  if (v.type != RegType::Sz && v.type != RegType::ExpandSz) return std::nullopt;
  Guid g;
  if (!ParseLooseGuid(v.text, g)) return std::nullopt;
  return g;
}

// The first bytes of a file (at most kSniffBytes), empty when it cannot be read.
std::string ReadHead(const std::filesystem::path& file) {
  UniqueFd fd;
  if (Failed(OpenRegularFile(file, fd))) return {};
  char buf[kSniffBytes];
  const ssize_t n = read(fd.get(), buf, sizeof buf);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

// Text files without a registered extension are still worth indexing: the head has no NUL
// byte and reads as UTF-8 (a sequence cut by the sniff window is allowed).
bool LooksLikeText(std::string_view head) {
  if (head.empty()) return false;
  if (head.find('\0') != std::string_view::npos) return false;
  // Drop a trailing partial sequence before the check.
  std::size_t end = head.size();
  for (std::size_t back = 0; back < 3 && end > 0; ++back) {
    const auto c = static_cast<unsigned char>(head[end - 1]);
    if ((c & 0xC0) == 0x80) {
      --end;
      continue;
    }
    if (c >= 0xC0) --end;
    break;
  }
  bool ok = true;
  Utf8ToUtf16(head.substr(0, end), &ok);
  return ok;
}

// Formats that announce themselves in their first bytes, and the extension whose registered
// filter reads them: a PDF or RTF file under another name (or none) is still read as one.
constexpr std::pair<std::string_view, std::string_view> kSignatures[] = {
    {"%PDF-", ".pdf"},
    {"{\\rtf", ".rtf"},
};

std::optional<Guid> FilterClsid(const Registry& registry, const std::string& ext) {
  if (ext.empty()) return std::nullopt;
  const auto handler = RegistryGuid(registry, ext + "\\PersistentHandler");
  if (!handler) return std::nullopt;
  return RegistryGuid(registry, "CLSID\\" + FormatGuid(*handler) +
                                    "\\PersistentAddinsRegistered\\" +
                                    FormatGuid(kFilterInterfaceId));
}

bool SpecMatches(const CachedProperty& p, const FullPropSpec& spec) {
  if (p.fmtid != spec.fmtid) return false;
  if (const auto* n = std::get_if<std::uint32_t>(&p.id)) {
    const auto* m = std::get_if<std::uint32_t>(&spec.id);
    return m && *m == *n;
  }
  const auto* m = std::get_if<std::string>(&spec.id);
  return m && EqualsNoCase(*m, std::get<std::string>(p.id));
}

void AppendBounded(std::string& to, std::string_view text) {
  if (to.size() >= kMaxDocumentText) return;
  if (!to.empty()) to += '\n';
  to.append(text.substr(0, kMaxDocumentText - std::min(to.size(), kMaxDocumentText)));
}

}  // namespace

HRESULT FilterForExtension(const Registry& registry, const ClassRegistry& classes,
                           std::string_view extension, std::shared_ptr<Filter>& out) {
  out.reset();
  const std::string ext = AsciiLower(extension);
  const auto handler = RegistryGuid(registry, ext + "\\PersistentHandler");
  if (!handler) return E_FAIL;
  const auto clsid = RegistryGuid(registry, "CLSID\\" + FormatGuid(*handler) +
                                                "\\PersistentAddinsRegistered\\" +
                                                FormatGuid(kFilterInterfaceId));
  if (!clsid) return E_FAIL;
  return classes.CreateInstance(*clsid, out);
}

DocumentReader::DocumentReader(const Registry& registry, const ClassRegistry& classes,
                               std::vector<CachedProperty> props)
    : registry_(registry), classes_(classes), props_(std::move(props)) {}

HRESULT DocumentReader::FindFilter(const std::filesystem::path& file,
                                   std::shared_ptr<Filter>& out) {
  out.reset();
  const std::string ext = AsciiLower(file.extension().string());
  auto it = filterByExtension_.find(ext);
  if (it == filterByExtension_.end()) {
    it = filterByExtension_.emplace(ext, FilterClsid(registry_, ext)).first;
  }
  Guid clsid;
  if (it->second) {
    clsid = *it->second;
  } else {
    const std::string head = ReadHead(file);
    std::optional<Guid> sniffed;
    for (const auto& [signature, kind] : kSignatures) {
      if (std::string_view(head).starts_with(signature)) {
        sniffed = FilterClsid(registry_, std::string(kind));
        break;
      }
    }
    if (sniffed) {
      clsid = *sniffed;
    } else if (LooksLikeText(head)) {
      clsid = kTextFilterClsid;
    } else {
      return S_FALSE;
    }
  }
  return classes_.CreateInstance(clsid, out);
}

void DocumentReader::AddValue(const FullPropSpec& spec, const PropVariant& v,
                              DocContent& out) const {
  if (spec.fmtid == kSummaryInfoPropSet && spec.id == decltype(spec.id){kPidTitle} &&
      (v.vt == VT_LPWSTR || v.vt == VT_LPSTR) && out.title.empty()) {
    out.title = v.str;
  }
  if (v.vt == VT_LPWSTR || v.vt == VT_LPSTR) AppendBounded(out.propText, v.str);
  for (const auto& p : props_) {
    PropVariant typed;
    if (SpecMatches(p, spec) && CoerceToColumn(v, p.vt, typed)) {
      const std::string key = p.Key();
      bool replaced = false;
      for (auto& [k, value] : out.props) {
        if (k == key) {
          value = typed;
          replaced = true;
        }
      }
      if (!replaced) out.props.emplace_back(key, std::move(typed));
    }
  }
}

HRESULT DocumentReader::RunFilter(Filter& filter, DocContent& out) const {
  std::uint32_t flags = 0;
  HRESULT hr = filter.Init(IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_APPLY_INDEX_ATTRIBUTES |
                               IFILTER_INIT_APPLY_OTHER_ATTRIBUTES,
                           flags);
  if (Failed(hr)) return hr;
  if (flags & IFILTER_FLAGS_OLE_PROPERTIES) {
    // The document's own property sets (a shortcut's title and URL, say).
    if (auto* sets = dynamic_cast<FilterPropertySets*>(&filter)) {
      std::vector<PropertySet> found;
      if (Succeeded(sets->ReadPropertySets(found))) {
        for (const auto& set : found) {
          for (const auto& [pid, value] : set.values) {
            AddValue({set.fmtid, pid}, value, out);
            if (auto name = set.names.find(pid); name != set.names.end()) {
              AddValue({set.fmtid, name->second}, value, out);
            }
          }
        }
      }
    }
  }
  for (;;) {
    StatChunk chunk;
    hr = filter.GetChunk(chunk);
    if (hr == FILTER_E_END_OF_CHUNKS) break;
    if (hr == FILTER_E_EMBEDDING_UNAVAILABLE) continue;  // that part is skipped
    if (Failed(hr)) return hr;
    if (chunk.flags == ChunkState::Text) {
      std::string text;
      for (;;) {
        const HRESULT t = filter.GetText(text, kTextPiece);
        if (t == FILTER_E_NO_MORE_TEXT || Failed(t)) break;
        if (text.size() > kMaxDocumentText) break;
        if (t == FILTER_S_LAST_TEXT) break;
      }
      if (chunk.attribute.fmtid == kStoragePropSet &&
          chunk.attribute.id == decltype(chunk.attribute.id){kPidContents}) {
        AppendBounded(out.contents, text);
      } else {
        AddValue(chunk.attribute, PropVariant::Lpwstr(text), out);
      }
    } else {
      PropVariant v;
      if (Succeeded(filter.GetValue(v))) AddValue(chunk.attribute, v, out);
    }
  }
  return S_OK;
}

void DocumentReader::AddDocumentText(DocumentText& text, DocContent& out) const {
  for (const auto& chunk : text.chunks) AppendBounded(out.contents, chunk);
  text.chunks.clear();
  if (text.title) AddValue({kSummaryInfoPropSet, kPidTitle}, PropVariant::Lpwstr(*text.title), out);
  if (text.author) AddValue({kSummaryInfoPropSet, kPidAuthor}, PropVariant::Lpwstr(*text.author), out);
  if (text.created) AddValue({kSummaryInfoPropSet, kPidCreated}, PropVariant::Date(*text.created), out);
  if (text.modified) {
    AddValue({kSummaryInfoPropSet, kPidLastSaved}, PropVariant::Date(*text.modified), out);
  }
}

HRESULT DocumentReader::Read(const std::filesystem::path& file, DocContent& out) {
  out = DocContent{};
  if (host_ && IsHostedFile(file)) {
    DocumentText text;
    const HRESULT hr = host_->Read(file, text);
    // A host without a reader for the format leaves the file to the filters here.
    if (hr != FILTER_E_UNKNOWNFORMAT) {
      AddDocumentText(text, out);
      ReadPropertySets(file, out);
      return Failed(hr) ? hr : S_OK;
    }
  }
  std::shared_ptr<Filter> filter;
  HRESULT hr = FindFilter(file, filter);
  HRESULT result = S_OK;
  if (hr == S_OK) {
    hr = filter->Load(file);
    if (Succeeded(hr)) hr = RunFilter(*filter, out);
    if (Failed(hr)) result = hr;
  } else if (Failed(hr)) {
    result = hr;
  }
  ReadPropertySets(file, out);
  return result;
}

void DocumentReader::ReadPropertySets(const std::filesystem::path& file, DocContent& out) const {
  // One listxattr tells whether the file carries any property set at all.
  char names[4096];
  const ssize_t n = llistxattr(file.c_str(), names, sizeof names);
  if (n <= 0) return;
  const std::string_view list(names, static_cast<std::size_t>(n));
  if (list.find(kPropSetAttributePrefix) == std::string_view::npos) return;
  std::unique_ptr<PropertyStorage> storage;
  if (Failed(PropertyStorage::Open(file, PropertyStorage::Mode::Read, storage))) return;
  std::vector<Guid> done;
  for (const auto& p : props_) {
    if (std::find(done.begin(), done.end(), p.fmtid) != done.end()) continue;
    done.push_back(p.fmtid);
    if (list.find(PropertySetAttributeName(p.fmtid)) == std::string_view::npos) continue;
    PropertySet set;
    if (Failed(storage->Read(p.fmtid, set))) continue;
    for (const auto& [pid, value] : set.values) {
      AddValue({p.fmtid, pid}, value, out);
      if (auto name = set.names.find(pid); name != set.names.end()) {
        AddValue({p.fmtid, name->second}, value, out);
      }
    }
  }
}

HRESULT DrainFilter(Filter& filter, std::string& text, std::string& title) {
  text.clear();
  title.clear();
  std::uint32_t flags = 0;
  HRESULT hr = filter.Init(0, flags);
  if (Failed(hr)) return hr;
  for (;;) {
    StatChunk chunk;
    hr = filter.GetChunk(chunk);
    if (hr == FILTER_E_END_OF_CHUNKS) return S_OK;
    if (Failed(hr)) return hr;
    if (chunk.flags == ChunkState::Text) {
      for (;;) {
        const HRESULT t = filter.GetText(text, 7);
        if (t != S_OK) break;
      }
    } else {
      PropVariant v;
      if (Succeeded(filter.GetValue(v))) title = v.str;
    }
  }
}

}  // namespace qv::platform::indexing
