#include "provider/filters/email_filter.h"

#include <cstring>

#include "context/event_report.h"
#include "platform/indexing/builtin_filters.h"
#include "provider/filters/charset.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/mail_body.h"
#include "provider/filters/mail_proxy_client.h"
#include "provider/filters/shared_section.h"
#include "provider/ranking/ranking_record.h"

namespace qv::filters {

using namespace platform;

namespace {
constexpr std::int32_t kErrorNotFound = 1168;
constexpr std::string_view kLongPathPrefix = "\\\\?\\";
constexpr std::string_view kAddressPrefix = "outlook:";
}  // namespace

bool SplitMailShortcutPath(std::string_view path, std::string& key, std::string& scope) {
  if (path.substr(0, kLongPathPrefix.size()) == kLongPathPrefix) {
    path.remove_prefix(kLongPathPrefix.size());
  }
  const auto slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  scope = slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
  key = std::string(name.substr(0, name.find('.')));
  return !key.empty();
}

bool MailTextFromSection(std::span<const std::uint8_t> section, std::uint32_t kind,
                         std::string_view charset, std::string& text) {
  text.clear();
  if (section.size() < 4) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, section.data(), 4);  // written by the proxy's machine: same byte order
  // The count comes from another process: never read past what the section can hold.
  const std::size_t limit = std::min<std::size_t>(kMailBodyMaxBytes, section.size() - 4);
  const std::size_t n = std::min<std::size_t>(count, limit);
  std::string_view body(reinterpret_cast<const char*>(section.data()) + 4, n);
  // The proxy ends the body with a zero byte; nothing after it is the body's.
  body = body.substr(0, body.find('\0'));
  if (body.empty()) return true;
  if (kind > static_cast<std::uint32_t>(BodyKind::Text)) return false;
  std::string converted;
  std::string_view cs = charset.size() <= kMaxCharsetLength ? charset : std::string_view();
  if (!cs.empty() && !IsRtf(body) && ConvertToUtf8(body, cs, converted)) {
    body = converted;
    cs = "utf-8";
  }
  std::string html;
  if (!MailBodyToHtml(body, static_cast<BodyKind>(kind), cs, html)) return false;
  text = indexing::ExtractHtml(html).text;
  return true;
}

HRESULT EmailIFilter::Load(const std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  path_ = file;
  loaded_ = true;
  return S_OK;
}

HRESULT EmailIFilter::ReadBody(IOtlIndexing& proxy, const std::string& address,
                               std::string& text) {
  Guid id;
  HRESULT hr = NewGuid(id);
  if (Failed(hr)) return hr;
  const std::string name = std::string(kMailSectionPrefix) + FormatGuid(id);
  SharedSection section;
  hr = SharedSection::Create(name, kMailSectionBytes, section);
  if (Failed(hr)) return hr;
  std::string files, charset;
  std::uint32_t kind = 0;
  hr = proxy.GetMsgFile(address, name, kMailSectionUsable, std::string(kMsgFilePrefix), &files,
                        &charset, &kind);
  if (Failed(hr)) {
    ReportItemWarning(ctx_, kCategoryProvider, kEventMailProxyFailed, address, hr);
    return S_FALSE;
  }
  if (hr != S_OK) return S_FALSE;  // no body
  if (!MailTextFromSection(section.bytes(), kind, charset, text)) {
    ReportItemWarning(ctx_, kCategoryProvider, kEventMailBodyNotConverted, address,
                      E_INVALIDARG);
  }
  return S_OK;
}

HRESULT EmailIFilter::Init(std::uint32_t, std::uint32_t& outFlags) {
  std::lock_guard lock(mutex_);
  outFlags = 0;
  doc_.Clear();
  if (!loaded_) return E_FAIL;
  doc_.SetLocale(kSystemDefaultLcid);
  std::string key, scope;
  if (!SplitMailShortcutPath(path_.string(), key, scope)) return HresultFromWin32(kErrorNotFound);
  const std::string address = std::string(kAddressPrefix) + key;

  std::shared_ptr<IOtlIndexing> proxy;
  // The proxy serves a store's shortcut folder, whichever bucket folder holds the shortcut.
  HRESULT hr = proxies_ ? proxies_->Find(std::string(kOtlIndexingMoniker) +
                                             MailScopeOfFolder(scope),
                                         proxy)
                        : MK_E_UNAVAILABLE;
  OtlItemData item;
  if (Succeeded(hr)) hr = proxy->GetItemData(address, item);
  if (Failed(hr)) {
    // MK_E_UNAVAILABLE among them: the mail client is not running, so the item is left
    // unfiltered for now and read again by a later pass.
    ReportItemWarning(ctx_, kCategoryProvider, kEventMailProxyFailed, address, hr);
    return hr;
  }

  std::string text;
  ReadBody(*proxy, address, text);
  doc_.AddText(std::move(text));

  Guid searchKey;
  if (const auto parsed = ParseGuid(item.searchKey)) {
    searchKey = *parsed;
    doc_.AddValue({ranking::kRankingFmtid, kPidSearchKey}, PropVariant::Clsid(searchKey));
  }
  if (item.flags == kItemHasRankingSet) {
    const PropertySet record = ranking::MakeRankingPropertySet(searchKey, item.set);
    for (const auto& [pid, value] : record.values) {
      if (pid == kPidSearchKey) continue;
      doc_.AddValue({ranking::kRankingFmtid, pid}, value);
    }
  }
  const std::string& correspondent =
      (item.messageFlags & kMsgFlagFromMe) ? item.to : item.from;
  const std::pair<std::uint32_t, const std::string*> strings[] = {
      {kPidMailFolder, &item.parentFolder}, {kPidMailPrefix, &item.prefix},
      {kPidMailSubject, &item.subject},     {kPidMailCorrespondent, &correspondent},
      {kPidMailClass, &item.itemType},
  };
  for (const auto& [pid, value] : strings) {
    if (!value->empty()) doc_.AddValue({kMailPropSet, pid}, PropVariant::Lpwstr(*value));
  }
  doc_.AddValue({kMailPropSet, kPidMailFlags}, PropVariant::UI4(item.messageFlags));
  return S_OK;
}

Guid EmailIFilter::GetClassID() const { return CLSID_EmailIFilter; }

}  // namespace qv::filters
