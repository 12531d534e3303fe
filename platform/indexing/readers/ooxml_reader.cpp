// Office Open XML: Word's document part, Excel's shared strings and sheets, PowerPoint's
// slides in slide order, and the core properties (title, creator, created, modified).
#include <algorithm>
#include <charconv>

#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/readers/zip_formats.h"

namespace qv::platform::readers {
namespace {

// Text of runs: the text elements' character data (w:t in Word, a:t in drawings, t in
// Excel's rich strings), with breaks at paragraphs and table cells. Deleted text and
// Excel's phonetic readings are left out.
class RunTextHandler : public XmlHandler {
 public:
  explicit RunTextHandler(TextSink& sink) : sink_(sink) {}

  void StartElement(XmlName name, const char**) override {
    if (name.local == "t") ++inText_;
    else if (name.local == "tab") sink_.Append("\t");
    else if (name.local == "br" || name.local == "cr") sink_.Break();
    else if (name.local == "rPh" || name.local == "delText") ++skip_;
  }
  void EndElement(XmlName name) override {
    if (name.local == "t" && inText_) --inText_;
    else if ((name.local == "rPh" || name.local == "delText") && skip_) --skip_;
    else if (name.local == "p" || name.local == "tc" || name.local == "si") sink_.Break();
  }
  void Text(std::string_view text) override {
    if (inText_ && !skip_) sink_.Append(text);
  }
  bool Done() const override { return sink_.Full(); }

 private:
  TextSink& sink_;
  int inText_ = 0;
  int skip_ = 0;
};

// Excel's shared strings, one per <si>, so that sheets can refer to them by index.
class SharedStringsHandler : public XmlHandler {
 public:
  SharedStringsHandler(std::vector<std::string>& strings, const ReaderLimits& limits)
      : strings_(strings), limits_(limits) {}

  void StartElement(XmlName name, const char**) override {
    if (name.local == "si") {
      strings_.emplace_back();
      inItem_ = true;
    } else if (name.local == "t") {
      ++inText_;
    } else if (name.local == "rPh") {
      ++skip_;
    }
  }
  void EndElement(XmlName name) override {
    if (name.local == "si") inItem_ = false;
    else if (name.local == "t" && inText_) --inText_;
    else if (name.local == "rPh" && skip_) --skip_;
  }
  void Text(std::string_view text) override {
    if (!inItem_ || !inText_ || skip_ || Done()) return;
    total_ += text.size();
    strings_.back().append(text);
  }
  // The table is held in memory; it may not outgrow the text limit or the member limit.
  bool Done() const override {
    return total_ > limits_.maxTextBytes || strings_.size() > limits_.maxEntries * 100ull;
  }

 private:
  std::vector<std::string>& strings_;
  const ReaderLimits& limits_;
  bool inItem_ = false;
  int inText_ = 0;
  int skip_ = 0;
  std::uint64_t total_ = 0;
};

// A sheet's cells in order: shared-string cells by index, inline strings, formula strings
// and numbers as written. Each row ends with a break, its cells are separated by tabs.
class SheetHandler : public XmlHandler {
 public:
  SheetHandler(TextSink& sink, const std::vector<std::string>& strings)
      : sink_(sink), strings_(strings) {}

  void StartElement(XmlName name, const char** attrs) override {
    if (name.local == "c") {
      type_ = std::string(XmlAttr(attrs, "t"));
      if (cells_++ > 0) sink_.Append("\t");
    } else if (name.local == "v" || (name.local == "t" && type_ == "inlineStr")) {
      inValue_ = true;
      value_.clear();
    }
  }
  void EndElement(XmlName name) override {
    if (name.local == "v" || name.local == "t") {
      if (!inValue_) return;
      inValue_ = false;
      if (type_ == "s") {
        std::size_t index = 0;
        const auto r = std::from_chars(value_.data(), value_.data() + value_.size(), index);
        if (r.ec == std::errc{} && index < strings_.size()) sink_.Append(strings_[index]);
      } else {
        sink_.Append(value_);
      }
    } else if (name.local == "row") {
      sink_.Break();
      cells_ = 0;
    }
  }
  void Text(std::string_view text) override {
    if (inValue_ && value_.size() < kMaxPropertyBytes * 16) value_.append(text);
  }
  bool Done() const override { return sink_.Full(); }

 private:
  TextSink& sink_;
  const std::vector<std::string>& strings_;
  std::string type_;
  std::string value_;
  bool inValue_ = false;
  int cells_ = 0;  // cells so far in the row
};

// Members named prefix + number + ".xml" (slide3.xml, sheet12.xml), in number order.
std::vector<std::string> NumberedParts(const ZipArchive& zip, std::string_view prefix) {
  std::vector<std::pair<unsigned, std::string>> found;
  for (const auto& name : zip.Names()) {
    if (!name.starts_with(prefix) || !name.ends_with(".xml")) continue;
    const std::string_view digits(name.data() + prefix.size(), name.size() - prefix.size() - 4);
    unsigned n = 0;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (r.ec == std::errc{} && r.ptr == digits.data() + digits.size()) found.emplace_back(n, name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [n, name] : found) names.push_back(std::move(name));
  return names;
}

HRESULT ReadParts(ZipArchive& zip, const std::vector<std::string>& parts,
                  const ReaderLimits& limits, DocumentText& out,
                  const std::vector<std::string>* strings) {
  TextSink sink(out, limits.maxTextBytes);
  for (const auto& part : parts) {
    if (sink.Full()) break;
    HRESULT hr = S_OK;
    if (strings) {
      SheetHandler sheet(sink, *strings);
      hr = ParseZipMember(zip, part, limits, sheet);
    } else {
      RunTextHandler runs(sink);
      hr = ParseZipMember(zip, part, limits, runs);
    }
    if (Failed(hr)) return hr;
    sink.EndPart();
  }
  return S_OK;
}

}  // namespace

HRESULT ReadOoxml(ZipArchive& zip, const ReaderLimits& limits, DocumentText& out) {
  HRESULT hr = S_OK;
  if (zip.Has("word/document.xml")) {
    hr = ReadParts(zip, {"word/document.xml"}, limits, out, nullptr);
  } else if (zip.Has("ppt/presentation.xml")) {
    hr = ReadParts(zip, NumberedParts(zip, "ppt/slides/slide"), limits, out, nullptr);
  } else if (zip.Has("xl/workbook.xml")) {
    std::vector<std::string> strings;
    SharedStringsHandler shared(strings, limits);
    hr = ParseZipMember(zip, "xl/sharedStrings.xml", limits, shared);
    if (hr == STG_E_FILENOTFOUND) hr = S_OK;  // a workbook of numbers only
    if (Succeeded(hr)) {
      hr = ReadParts(zip, NumberedParts(zip, "xl/worksheets/sheet"), limits, out, &strings);
    }
  } else {
    return FILTER_E_UNKNOWNFORMAT;
  }
  if (Failed(hr)) return hr;

  std::string title, creator, created, modified;
  MetadataCollector core({{"title", "purl.org/dc/elements", &title},
                          {"creator", "purl.org/dc/elements", &creator},
                          {"created", "purl.org/dc/terms", &created},
                          {"modified", "purl.org/dc/terms", &modified}});
  // Core properties are optional, and broken ones cost only themselves; a limit fails.
  hr = ParseZipMember(zip, "docProps/core.xml", limits, core);
  if (hr == kLimitExceeded) return hr;
  if (Failed(hr)) return S_OK;
  SetProperty(out.title, title);
  SetProperty(out.author, creator);
  out.created = ParseDocumentDate(created);
  out.modified = ParseDocumentDate(modified);
  return S_OK;
}

}  // namespace qv::platform::readers
