#pragma once
// The add-in's ranking object over the stores it tracks: the read entry (an item's values and
// ranking set), the write entry (parks a new ranking set in the item's shortcut) and the
// message-file entry (the item's body into a shared section for the e-mail filter).
// Like the stores' walks, it is called on the mail client's main thread only, one call at a
// time; callers on other threads reach it through the client's dispatching.
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "mail/QvOutlookAddIn/msg_store.h"
#include "mail/otl_ranking.h"
#include "platform/mail/mail_store.h"

namespace qv::mail::addin {

// Entry ids of more bytes than this are refused.
inline constexpr std::size_t kMaxEntryIdBytes = 128;

class OtlRankingObject final : public OtlRanking {
 public:
  // `session`: every store the mail client has open, where item ids are looked up.
  // `stores`: the tracked stores' records. `userAddress`: the user's own address, for the
  // "sent by me" flag. None is owned; all outlive the object.
  OtlRankingObject(const Context& ctx, std::vector<platform::mail::MessageStore*> session,
                   std::vector<KivMsgStore*> stores, std::string userAddress);

  HRESULT ReadItem(std::string_view itemId, OtlItemValues& out) override;
  HRESULT WriteItem(std::string_view itemId, const ranking::RankingSet& set) override;
  HRESULT GetMsgFile(std::string_view itemId, std::string_view sectionName,
                     std::uint32_t sectionSize, std::string_view prefix, std::string& files,
                     std::string& text, std::uint32_t& kind) override;

 private:
  // The item's entry id and the message: E_INVALIDARG for an identifier without the prefix,
  // with bad hexadecimal, or naming a folder; the store's error when no store has it.
  HRESULT OpenItem(std::string_view itemId, platform::mail::EntryId& entryId,
                   platform::mail::Message& message) const;
  KivMsgStore* StoreOf(const platform::mail::Message& message) const;

  const Context& ctx_;
  std::vector<platform::mail::MessageStore*> session_;
  std::vector<KivMsgStore*> stores_;
  std::string userAddress_;
};

// "Name", "Name [address]" or "address" (the rule for senders and recipients).
std::string PersonText(std::string_view name, std::string_view address);

}  // namespace qv::mail::addin
