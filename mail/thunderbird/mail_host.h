#pragma once
// The host's side of a mail client session: each displayed message of a Maildir account
// becomes a visit of the client's window, ended by the next display, by closing its tab or
// by the client going away. Every message gets a JSON reply.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "mail/QvOutlookAddIn/visit_binding.h"
#include "platform/registry/registry.h"

namespace qv::mail::tb {

// The accounts whose Maildir roots the host knows: per-user values under this key, named by
// the client's account id, each a REG_SZ with the root's path.
inline constexpr std::string_view kAccountsKey = "Software\\Quillon\\Vesper\\EMail\\Thunderbird";
using AccountRoots = std::map<std::string, std::filesystem::path>;
AccountRoots ReadAccounts(const platform::Registry& registry);
// E_INVALIDARG for an empty id or a relative path.
HRESULT AddAccount(platform::Registry& registry, std::string_view account,
                   const std::filesystem::path& root);

class MailHost {
 public:
  // `window` gives the visit key: the client's window at the moment of the call.
  MailHost(const addin::VisitBinding& visits, AccountRoots accounts,
           std::function<std::uint64_t()> window);
  ~MailHost();  // ends an open visit
  MailHost(const MailHost&) = delete;
  MailHost& operator=(const MailHost&) = delete;

  // One message from the extension; returns the reply.
  std::string Handle(std::string_view json);
  // The client went away.
  void Disconnect();

  const std::string& openItem() const { return item_; }

 private:
  void EndVisit();

  const addin::VisitBinding& visits_;
  AccountRoots accounts_;
  std::function<std::uint64_t()> window_;
  std::int64_t tab_ = -1;
  std::uint64_t visitWindow_ = 0;
  std::string item_;
};

}  // namespace qv::mail::tb
