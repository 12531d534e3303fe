#include "mail/QvOutlookAddIn/otl_ranking_object.h"

#include "common/guid.h"
#include "common/utf.h"
#include "mail/QvOutlookAddIn/compressed_rtf.h"
#include "mail/QvOutlookAddIn/msg_file_section.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookAddIn/store_shortcut.h"
#include "provider/filters/shared_section.h"

namespace qv::mail::addin {
namespace {

namespace pm = platform::mail;

constexpr std::uint32_t kMsgFlagSubmitted = 0x04;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string PersonText(std::string_view name, std::string_view address) {
  if (name.empty()) return std::string(address);
  if (address.empty() || EqualsNoCase(name, address)) return std::string(name);
  return std::string(name) + " [" + std::string(address) + "]";
}

OtlRankingObject::OtlRankingObject(const Context& ctx, std::vector<pm::MessageStore*> session,
                                   std::vector<KivMsgStore*> stores, std::string userAddress)
    : ctx_(ctx),
      session_(std::move(session)),
      stores_(std::move(stores)),
      userAddress_(std::move(userAddress)) {}

HRESULT OtlRankingObject::OpenItem(std::string_view itemId, pm::EntryId& entryId,
                                   pm::Message& message) const {
  if (!StartsWithNoCase(itemId, kMailItemPrefix)) return E_INVALIDARG;
  if (HRESULT hr = DecodeHex(itemId.substr(kMailItemPrefix.size()), kMaxEntryIdBytes, entryId);
      Failed(hr)) {
    return hr;
  }
  if (entryId.empty()) return E_INVALIDARG;
  HRESULT result = pm::MAPI_E_NOT_FOUND;
  for (pm::MessageStore* store : session_) {
    const HRESULT hr = store->OpenMessage(entryId, message);
    if (Succeeded(hr)) return S_OK;
    // A folder's id names no message: refused, whichever store knows it.
    if (hr != pm::MAPI_E_NOT_FOUND) result = hr;
  }
  return result;
}

KivMsgStore* OtlRankingObject::StoreOf(const pm::Message& message) const {
  for (KivMsgStore* s : stores_) {
    if (s->IsEntryId(message.storeEntryId)) return s;
  }
  return nullptr;
}

HRESULT OtlRankingObject::WriteItem(std::string_view itemId, const ranking::RankingSet& set) {
  pm::EntryId entryId;
  pm::Message message;
  if (HRESULT hr = OpenItem(itemId, entryId, message); Failed(hr)) return hr;
  if (message.storeEntryId.empty()) return E_FAIL;
  KivMsgStore* store = StoreOf(message);
  if (store == nullptr) return S_FALSE;
  pm::FolderType type;
  std::string parent;
  if (HRESULT hr = store->IsTracked(entryId, type, parent); hr != S_OK) return hr;
  return store->SetPending(entryId, EncodePendingRecord(set));
}

HRESULT OtlRankingObject::ReadItem(std::string_view itemId, OtlItemValues& out) {
  out = OtlItemValues{};
  pm::EntryId entryId;
  pm::Message m;
  if (HRESULT hr = OpenItem(itemId, entryId, m); Failed(hr)) return hr;
  out.state = kItemOpen;

  KivMsgStore* store = StoreOf(m);
  pm::FolderType folderType = pm::FolderType::None;
  if (store != nullptr) {
    out.pst = store->number();
    store->IsTracked(entryId, folderType, out.parentFolder);
  }

  // A record still parked in the shortcut is newer than the item's own values: a second
  // visit before the apply pass must fold into it, or the first visit would be lost.
  bool haveSet = false;
  if (store != nullptr && ReadPendingRecord(store->directory(), entryId, out.set) == S_OK) {
    haveSet = true;
  }
  if (!haveSet) haveSet = GetRankingProperties(m, out.set) == S_OK;
  if (haveSet) {
    out.state = kItemHasRanking;
  } else {
    out.set = ranking::RankingSet{};
  }

  if (m.searchKey.size() >= kGuidByteLength) {
    out.searchKey = FormatGuid(
        GuidFromBytes(std::span<const std::uint8_t, kGuidByteLength>(m.searchKey.data(), kGuidByteLength)));
  }
  out.prefix = m.subjectPrefix.value_or("");
  out.subject = m.normalizedSubject.value_or("");
  out.itemType = m.messageClass.value_or("");
  const std::string senderAddress = m.senderAddress.value_or("");
  out.from = PersonText(m.senderName.value_or(""), senderAddress);

  std::string* lists[] = {&out.to, &out.cc, &out.bcc};
  for (const pm::Recipient& r : m.recipients) {
    const auto t = static_cast<std::int32_t>(r.type);
    if (t < 1 || t > 3) continue;
    std::string& list = *lists[t - 1];
    const std::string person = PersonText(r.name, r.address);
    if (person.empty()) continue;
    if (!list.empty()) list += "; ";
    list += person;
  }

  out.messageFlags = m.messageFlags;
  if (folderType == pm::FolderType::Outbox || folderType == pm::FolderType::SentMail ||
      (m.messageFlags & (kMsgFlagSubmitted | pm::kMsgFlagUnsent)) != 0 ||
      (!userAddress_.empty() && StartsWithNoCase(senderAddress, userAddress_))) {
    out.messageFlags |= pm::kMsgFlagFromMe;
  }
  out.date1 = m.startDate.value_or(0.0);
  out.date2 = m.endDate.value_or(0.0);
  return store != nullptr ? S_OK : S_FALSE;
}

HRESULT OtlRankingObject::GetMsgFile(std::string_view itemId, std::string_view sectionName,
                                     std::uint32_t sectionSize, std::string_view /*prefix*/,
                                     std::string& files, std::string& text,
                                     std::uint32_t& kind) {
  files.clear();
  text.clear();
  kind = kBodyText;
  if (sectionSize <= kMinMsgFileSection) return E_FAIL;
  pm::EntryId entryId;
  pm::Message m;
  if (HRESULT hr = OpenItem(itemId, entryId, m); Failed(hr)) return hr;

  // The section must really be as large as the caller says: Open refuses a smaller one, so
  // nothing is ever written past its end.
  filters::SharedSection section;
  if (HRESULT hr = filters::SharedSection::Open(sectionName, sectionSize, section); Failed(hr)) {
    return hr;
  }
  std::string rtf;
  std::string_view body;
  if (m.bodyHtml) {
    kind = kBodyHtml;
    body = *m.bodyHtml;
    if (m.htmlCharset) text = *m.htmlCharset;
  } else if (m.bodyRtfCompressed) {
    kind = kBodyRtf;
    if (HRESULT hr = DecompressRtf(*m.bodyRtfCompressed, rtf); Failed(hr)) {
      std::uint32_t unused = 0;
      WriteMsgFileSection(section.bytes(), {}, unused);
      return hr;
    }
    body = rtf;
  } else if (m.bodyPlain) {
    kind = kBodyText;
    body = *m.bodyPlain;
    text = "utf-8";
  } else {
    return S_FALSE;
  }
  std::uint32_t written = 0;
  return WriteMsgFileSection(section.bytes(), body, written);
}

}  // namespace qv::mail::addin
