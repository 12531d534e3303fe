#include "platform/indexing/readers/document_filter.h"

#include <mutex>

#include "platform/indexing/readers/document_readers.h"

namespace qv::platform::readers {
namespace {

class DocumentFilter final : public Filter {
 public:
  DocumentFilter(DocumentReaderFn read, ReaderLimits limits)
      : read_(std::move(read)), limits_(limits) {}

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
    chunk_ = 0;
    ids_ = 0;
    offset_ = 0;
    if (!loaded_) return E_FAIL;
    const HRESULT hr = read_(path_, limits_, doc_);
    if (Failed(hr)) doc_ = {};
    return hr;
  }

  HRESULT GetChunk(StatChunk& chunk) override {
    std::lock_guard lock(mutex_);
    // The text parts first, then one value chunk for each property the document has.
    const std::size_t values = 4;
    while (chunk_ < doc_.chunks.size() + values) {
      const std::size_t which = chunk_++;
      chunk = StatChunk{};
      chunk.breakType = BreakType::EndOfChapter;
      if (which < doc_.chunks.size()) {
        if (doc_.chunks[which].empty()) continue;
        offset_ = 0;
        chunk.flags = ChunkState::Text;
        chunk.attribute = {kStoragePropSet, kPidContents};
      } else {
        const std::size_t v = which - doc_.chunks.size();
        const bool present = v == 0   ? doc_.title.has_value()
                             : v == 1 ? doc_.author.has_value()
                             : v == 2 ? doc_.created.has_value()
                                      : doc_.modified.has_value();
        if (!present) continue;
        static constexpr std::uint32_t kPids[] = {kPidTitle, kPidAuthor, kPidCreated,
                                                  kPidLastSaved};
        valueTaken_ = false;
        chunk.flags = ChunkState::Value;
        chunk.attribute = {kSummaryInfoPropSet, kPids[v]};
      }
      chunk.idChunk = ++ids_;
      chunk.idChunkSource = chunk.idChunk;
      return S_OK;
    }
    return FILTER_E_END_OF_CHUNKS;
  }

  HRESULT GetText(std::string& out, std::size_t maxBytes) override {
    std::lock_guard lock(mutex_);
    if (chunk_ == 0 || chunk_ > doc_.chunks.size()) return FILTER_E_NO_TEXT;
    const std::string& text = doc_.chunks[chunk_ - 1];
    if (offset_ >= text.size()) return FILTER_E_NO_MORE_TEXT;
    maxBytes = std::max<std::size_t>(maxBytes, 4);
    std::size_t end = std::min(text.size(), offset_ + maxBytes);
    // Never split a UTF-8 sequence.
    while (end < text.size() && end > offset_ &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      --end;
    }
    out.append(text, offset_, end - offset_);
    offset_ = end;
    return offset_ >= text.size() ? FILTER_S_LAST_TEXT : S_OK;
  }

  HRESULT GetValue(PropVariant& out) override {
    std::lock_guard lock(mutex_);
    if (chunk_ <= doc_.chunks.size() || valueTaken_) return FILTER_E_NO_VALUES;
    valueTaken_ = true;
    switch (chunk_ - 1 - doc_.chunks.size()) {
      case 0:
        out = PropVariant::Lpwstr(*doc_.title);
        return S_OK;
      case 1:
        out = PropVariant::Lpwstr(*doc_.author);
        return S_OK;
      case 2:
      case 3: {
        const DATE d = chunk_ - 1 - doc_.chunks.size() == 2 ? *doc_.created : *doc_.modified;
        const auto ft = DateToFileTime(d);
        if (!ft) return FILTER_E_NO_VALUES;
        out = PropVariant::FileTimeValue(*ft);
        return S_OK;
      }
      default:
        return FILTER_E_NO_VALUES;
    }
  }

  Guid GetClassID() const override { return kDocumentFilterClsid; }

 private:
  const DocumentReaderFn read_;
  const ReaderLimits limits_;
  std::mutex mutex_;
  std::filesystem::path path_;
  bool loaded_ = false;
  DocumentText doc_;
  std::size_t chunk_ = 0;  // chunks handed out; the current one is chunk_ - 1
  std::uint32_t ids_ = 0;
  std::size_t offset_ = 0;
  bool valueTaken_ = false;
};

HRESULT SetDefault(Registry& reg, const std::string& key, const std::string& value) {
  return HresultFromWin32(reg.SetValue(Hive::ClassesRoot, key, "", RegValue::Sz(value)));
}

}  // namespace

bool HasReader(std::string_view which) {
  if (which == "rtf") return true;
#ifdef QV_HAVE_ZIP_READERS
  if (which == "zip") return true;
#endif
#ifdef QV_HAVE_PDF_READER
  if (which == "pdf") return true;
#endif
  return false;
}

std::shared_ptr<Filter> MakeDocumentFilter(DocumentReaderFn read, ReaderLimits limits) {
  if (!read) read = ReadDocument;
  return std::make_shared<DocumentFilter>(std::move(read), limits);
}

void RegisterDocumentFilterClass(ClassRegistry& classes, DocumentReaderFn read) {
  classes.Register(kDocumentFilterClsid, "Quillon.DocumentFilter.1", "",
                   [read](std::shared_ptr<ComObject>& out) {
                     out = MakeDocumentFilter(read);
                     return S_OK;
                   });
}

HRESULT RegisterDocumentFilterExtensions(Registry& registry) {
  const std::string addin = "CLSID\\" + FormatGuid(kDocumentHandlerClsid) +
                            "\\PersistentAddinsRegistered\\" + FormatGuid(kFilterInterfaceId);
  if (!registry.KeyExists(Hive::ClassesRoot, addin)) {
    HRESULT hr = SetDefault(registry, addin, FormatGuid(kDocumentFilterClsid));
    if (Failed(hr)) return hr;
  }
  std::vector<std::string_view> extensions = {".rtf"};
  if (HasReader("zip")) {
    for (auto e : {".odt", ".ods", ".odp", ".ott", ".ots", ".otp", ".docx", ".xlsx", ".pptx",
                   ".docm", ".xlsm", ".pptm", ".epub"}) {
      extensions.push_back(e);
    }
  }
  if (HasReader("pdf")) extensions.push_back(".pdf");
  for (auto ext : extensions) {
    const std::string key = std::string(ext) + "\\PersistentHandler";
    if (registry.KeyExists(Hive::ClassesRoot, key)) continue;
    HRESULT hr = SetDefault(registry, key, FormatGuid(kDocumentHandlerClsid));
    if (Failed(hr)) return hr;
  }
  return S_OK;
}

}  // namespace qv::platform::readers
