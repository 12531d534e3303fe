// EPUB: META-INF/container.xml names the package document; its manifest and spine give the
// chapters in reading order, its metadata the title, creator and date.
#include <map>

#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/readers/zip_formats.h"

namespace qv::platform::readers {
namespace {

// The package document's path from the container's first rootfile.
class ContainerHandler : public XmlHandler {
 public:
  void StartElement(XmlName name, const char** attrs) override {
    if (name.local == "rootfile" && path.empty()) path = std::string(XmlAttr(attrs, "full-path"));
  }
  void EndElement(XmlName) override {}
  void Text(std::string_view) override {}
  std::string path;
};

// The manifest (id -> href) and the spine (idrefs in order) of the package document.
class PackageHandler : public XmlHandler {
 public:
  PackageHandler(const ReaderLimits& limits, std::string& title, std::string& creator,
                 std::string& date, std::string& modified)
      : limits_(limits),
        meta_({{"title", "purl.org/dc", &title},
               {"creator", "purl.org/dc", &creator},
               {"date", "purl.org/dc", &date}}),
        modified_(modified) {}

  void StartElement(XmlName name, const char** attrs) override {
    meta_.StartElement(name, attrs);
    if (name.local == "item" && manifest.size() < limits_.maxEntries) {
      manifest.emplace(std::string(XmlAttr(attrs, "id")), std::string(XmlAttr(attrs, "href")));
    } else if (name.local == "itemref" && spine.size() < limits_.maxEntries) {
      if (XmlAttr(attrs, "linear") != "no") spine.emplace_back(XmlAttr(attrs, "idref"));
    } else if (name.local == "meta" && XmlAttr(attrs, "property") == "dcterms:modified") {
      inModified_ = true;
    }
  }
  void EndElement(XmlName name) override {
    meta_.EndElement(name);
    inModified_ = false;
  }
  void Text(std::string_view text) override {
    meta_.Text(text);
    if (inModified_ && modified_.size() < kMaxPropertyBytes) modified_.append(text);
  }

  std::map<std::string, std::string> manifest;
  std::vector<std::string> spine;

 private:
  const ReaderLimits& limits_;
  MetadataCollector meta_;
  std::string& modified_;
  bool inModified_ = false;
};

// The text of an XHTML chapter's body, without scripts and styles, with breaks at blocks.
class ChapterHandler : public XmlHandler {
 public:
  explicit ChapterHandler(TextSink& sink) : sink_(sink) {}
  void StartElement(XmlName name, const char**) override {
    if (name.local == "body") ++inBody_;
    else if (name.local == "script" || name.local == "style") ++skip_;
    else if (name.local == "br") sink_.Break();
  }
  void EndElement(XmlName name) override {
    if (name.local == "body" && inBody_) --inBody_;
    else if ((name.local == "script" || name.local == "style") && skip_) --skip_;
    else if (IsBlock(name.local)) sink_.Break();
  }
  void Text(std::string_view text) override {
    if (inBody_ && !skip_) sink_.Append(text);
  }
  bool Done() const override { return sink_.Full(); }

 private:
  static bool IsBlock(std::string_view n) {
    return n == "p" || n == "div" || n == "li" || n == "td" || n == "th" || n == "tr" ||
           n == "blockquote" || n == "pre" || n == "section" ||
           (n.size() == 2 && n[0] == 'h' && n[1] >= '1' && n[1] <= '6');
  }
  TextSink& sink_;
  int inBody_ = 0;
  int skip_ = 0;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// A manifest href resolved against the package document's folder: percent escapes decoded,
// a fragment dropped, "." and ".." applied; empty when it would leave the archive.
std::string ResolveEpubHref(std::string_view base, std::string_view href) {
  href = href.substr(0, href.find('#'));
  std::string decoded;
  for (std::size_t i = 0; i < href.size(); ++i) {
    if (href[i] == '%' && i + 2 < href.size() &&
        HexValue(href[i + 1]) >= 0 && HexValue(href[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(href[i + 1]) * 16 + HexValue(href[i + 2]));
      i += 2;
    } else {
      decoded += href[i];
    }
  }
  if (decoded.empty() || decoded.find(':') != std::string::npos) return {};
  std::vector<std::string> parts;
  const std::string_view folder = base.substr(0, base.rfind('/') == std::string_view::npos
                                                     ? 0
                                                     : base.rfind('/'));
  const std::string full =
      decoded.front() == '/' ? decoded.substr(1)
                             : (folder.empty() ? decoded : std::string(folder) + "/" + decoded);
  std::size_t at = 0;
  while (at <= full.size()) {
    const auto slash = std::min(full.find('/', at), full.size());
    const std::string part = full.substr(at, slash - at);
    at = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return {};
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string path;
  for (const auto& p : parts) path += (path.empty() ? "" : "/") + p;
  return path;
}

HRESULT ReadEpub(ZipArchive& zip, const ReaderLimits& limits, DocumentText& out) {
  ContainerHandler container;
  HRESULT hr = ParseZipMember(zip, "META-INF/container.xml", limits, container);
  if (hr == STG_E_FILENOTFOUND) return FILTER_E_UNKNOWNFORMAT;
  if (Failed(hr)) return hr;
  const std::string opf = ResolveEpubHref("", container.path);
  if (opf.empty()) return FILTER_E_UNKNOWNFORMAT;
  std::string title, creator, date, modified;
  PackageHandler package(limits, title, creator, date, modified);
  hr = ParseZipMember(zip, opf, limits, package);
  if (hr == STG_E_FILENOTFOUND) return FILTER_E_UNKNOWNFORMAT;
  if (Failed(hr)) return hr;
  SetProperty(out.title, title);
  SetProperty(out.author, creator);
  out.created = ParseDocumentDate(date);
  out.modified = ParseDocumentDate(modified);

  TextSink sink(out, limits.maxTextBytes);
  for (const auto& idref : package.spine) {
    if (sink.Full()) break;
    const auto item = package.manifest.find(idref);
    if (item == package.manifest.end()) continue;
    const std::string member = ResolveEpubHref(opf, item->second);
    if (member.empty()) continue;
    ChapterHandler chapter(sink);
    hr = ParseZipMember(zip, member, limits, chapter);
    if (hr == STG_E_FILENOTFOUND) continue;  // a missing chapter costs only itself
    if (hr == FILTER_E_UNKNOWNFORMAT) {
      // Chapters that are HTML rather than XHTML are still read, as HTML.
      std::string html;
      hr = zip.Read(member, html);
      if (Failed(hr) && hr != FILTER_E_UNKNOWNFORMAT) return hr;
      sink.DiscardPart();  // what the XML parse took before it failed
      sink.Append(indexing::ExtractHtml(html).text);
    } else if (Failed(hr)) {
      return hr;
    }
    sink.EndPart();
  }
  return S_OK;
}

}  // namespace qv::platform::readers
