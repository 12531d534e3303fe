#include "mail/thunderbird/mail_host.h"

#include "hooks/QvHooks/tracer_messages.h"
#include "mail/thunderbird/host_message.h"
#include "mail/thunderbird/maildir_item.h"

namespace qv::mail::tb {

namespace {

std::string Error(std::string_view why) {
  return "{\"ok\":false,\"error\":" + JsonString(why) + "}";
}

}  // namespace

AccountRoots ReadAccounts(const platform::Registry& registry) {
  AccountRoots out;
  std::vector<std::pair<std::string, platform::RegValue>> values;
  if (registry.EnumValues(platform::Hive::CurrentUser, kAccountsKey, values) != 0) return out;
  for (const auto& [name, v] : values) {
    if (v.type != platform::RegType::Sz || v.text.empty()) continue;
    const std::filesystem::path root(v.text);
    if (root.is_absolute()) out.emplace(name, root);
  }
  return out;
}

HRESULT AddAccount(platform::Registry& registry, std::string_view account,
                   const std::filesystem::path& root) {
  if (account.empty() || !root.is_absolute()) return E_INVALIDARG;
  return HresultFromWin32(registry.SetValue(platform::Hive::CurrentUser, kAccountsKey,
                                            std::string(account), platform::RegValue::Sz(root.string())));
}

MailHost::MailHost(const addin::VisitBinding& visits, AccountRoots accounts,
                   std::function<std::uint64_t()> window)
    : visits_(visits), accounts_(std::move(accounts)), window_(std::move(window)) {}

MailHost::~MailHost() { Disconnect(); }

void MailHost::Disconnect() { EndVisit(); }

void MailHost::EndVisit() {
  if (visitWindow_ != 0) (void)visits_.End(visitWindow_, 0);
  visitWindow_ = 0;
  tab_ = -1;
  item_.clear();
}

std::string MailHost::Handle(std::string_view json) {
  HostMessage m;
  std::string why;
  if (Failed(ParseHostMessage(json, m, why))) return Error("refused: " + why);
  switch (m.type) {
    case HostMessage::Type::Hello:
      return "{\"ok\":true,\"host\":\"qvmailhost\",\"accounts\":" +
             std::to_string(accounts_.size()) + "}";
    case HostMessage::Type::Closed:
      if (m.tab == tab_) EndVisit();
      return "{\"ok\":true}";
    case HostMessage::Type::Displayed:
      break;
  }
  // The user has moved on from whatever was shown before.
  EndVisit();
  const auto account = accounts_.find(m.account);
  if (account == accounts_.end()) {
    return Error("account " + m.account + " is not a Maildir account known to Quillon Vesper; "
                 "add it with qvmailhost --install --account " + m.account + "=MAILDIR");
  }
  std::string id;
  if (const HRESULT hr = ResolveMaildirItem(account->second, m.folder, m.messageId, id); Failed(hr)) {
    return Error(hr == E_INVALIDARG ? "the folder path cannot name a Maildir folder"
                                    : "the message is not in the account's Maildir folder");
  }
  const std::uint64_t window = window_ ? window_() : 0;
  if (window == 0) return Error("the mail client's window was not found");
  const HRESULT hr = visits_.Start(window, id, hooks::KIV_VF_TRACK);
  if (Failed(hr)) return Error("the visit was not reported (" + FormatHresult(hr) + ")");
  visitWindow_ = window;
  tab_ = m.tab;
  item_ = id;
  return "{\"ok\":true,\"item\":" + JsonString(id) + ",\"tracer\":" +
         (hr == S_OK ? "true" : "false") + "}";
}

}  // namespace qv::mail::tb
