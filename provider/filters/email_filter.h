#pragma once
// The e-mail shortcut filter (.q6e): a mail item's text, mail values and ranking record,
// obtained from the mail proxy that serves the shortcut's folder. The proxy is found in the
// session's running object table; the body comes through a shared section.
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "context/context.h"
#include "platform/indexing/filter.h"
#include "provider/filters/chunked_document.h"
#include "provider/ranking/ranking.h"

namespace qv::filters {

// What GetItemData hands back for one item.
struct OtlItemData {
  std::uint32_t flags = 0;  // 2: the item carries its ranking record
  std::uint32_t pst = 0;
  std::string searchKey;    // registry form, or empty
  ranking::RankingSet set;
  std::string parentFolder, prefix, subject, to, from, cc, bcc, itemType;
  std::uint32_t messageFlags = 0;
  DATE date1 = 0, date2 = 0;
};
inline constexpr std::uint32_t kItemHasRankingSet = 2;

// The mail proxy as the filter calls it.
class IOtlIndexing : public virtual platform::ComObject {
 public:
  virtual HRESULT GetItemData(const std::string& item, OtlItemData& out) = 0;
  // Writes the item's body into the section `mmfName` (a 32-bit byte count, the body, a zero
  // byte) within `mmfSize` bytes; `text` receives the body's charset when known, `kind` its
  // kind (0 HTML, 1 RTF, 2 text). S_FALSE: the item has no body.
  virtual HRESULT GetMsgFile(const std::string& item, const std::string& mmfName,
                             std::uint32_t mmfSize, const std::string& prefix,
                             std::string* files, std::string* text, std::uint32_t* kind) = 0;
};

// The running object table as the filter sees it: proxies by their registered name.
class MailProxyTable {
 public:
  virtual ~MailProxyTable() = default;
  // MK_E_UNAVAILABLE when nothing is registered under `name`.
  virtual HRESULT Find(const std::string& name, std::shared_ptr<IOtlIndexing>& out) const = 0;
};

class EmailIFilter final : public platform::Filter {
 public:
  // `proxies` may be null: no proxy is ever found.
  EmailIFilter(const Context& ctx, std::shared_ptr<const MailProxyTable> proxies)
      : ctx_(ctx), proxies_(std::move(proxies)) {}

  HRESULT Load(const std::filesystem::path& file) override;
  HRESULT Init(std::uint32_t initFlags, std::uint32_t& outFlags) override;
  HRESULT GetChunk(platform::StatChunk& chunk) override { return doc_.GetChunk(chunk); }
  HRESULT GetText(std::string& out, std::size_t maxBytes) override {
    return doc_.GetText(out, maxBytes);
  }
  HRESULT GetValue(platform::PropVariant& out) override { return doc_.GetValue(out); }
  Guid GetClassID() const override;

 private:
  HRESULT ReadBody(IOtlIndexing& proxy, const std::string& address, std::string& text);

  const Context& ctx_;
  std::shared_ptr<const MailProxyTable> proxies_;
  std::mutex mutex_;
  std::filesystem::path path_;
  bool loaded_ = false;
  ChunkedDocument doc_;
};

// The item key and mail scope a shortcut path names: the file name up to its first "." and
// the shortcut's folder ("\\?\" before the path is dropped). False when the key is empty.
bool SplitMailShortcutPath(std::string_view path, std::string& key, std::string& scope);

// The text of a body read from the shared section: the byte count (clamped to what the
// section can hold), the body, converted by kind and charset to HTML and read by the HTML
// reader. False when the body cannot be converted.
bool MailTextFromSection(std::span<const std::uint8_t> section, std::uint32_t kind,
                         std::string_view charset, std::string& text);

}  // namespace qv::filters
