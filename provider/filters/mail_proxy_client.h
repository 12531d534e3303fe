#pragma once
// The mail proxy across processes, as the e-mail filter reaches it: the proxy serves itself in
// the session's running object table under "!Qv.OtlIndexing." plus a mail scope, and answers
// remote calls by slot:
//   1 AddScope(directory)           out: the registration's cookie
//   2 RemoveScope(cookie)
//   3 GetItemData(item)             out: the current scope, then the add-in's 25 item values
//                                   (flags, store, search key, the 11 ranking values, folder,
//                                   prefix, subject, to, from, cc, bcc, class, message flags,
//                                   two dates)
//   4 GetMsgFile(item, section, size, prefix)   out: files, charset text, body kind
//
// A mail scope is the store's shortcut folder without its bucket folder: the proxy registers
// one name per store, and the filter drops the two-digit bucket folder of a shortcut's path.
#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "platform/com/running_objects.h"
#include "provider/filters/email_filter.h"

namespace qv::filters {

enum class ProxyMethod : std::uint32_t { AddScope = 1, RemoveScope = 2, GetItemData = 3, GetMsgFile = 4 };
inline constexpr std::size_t kProxyItemValueCount = 26;
// The proxy answers within its own 7 s watchdog; the filter waits a little longer.
inline constexpr std::chrono::milliseconds kProxyCallLimit{10000};

// The scope of a shortcut folder: the folder itself, or its parent when its own name is a
// bucket (two lower-case hexadecimal digits).
std::string MailScopeOfFolder(std::string_view folder);

// GetItemData's out values; false unless they have exactly that shape.
bool ProxyItemDataFromArgs(std::span<const platform::CallArg> args, std::uint32_t& currentScope,
                           OtlItemData& out);

// One proxy registration of another process.
class RemoteOtlIndexing final : public IOtlIndexing {
 public:
  RemoteOtlIndexing(std::shared_ptr<const platform::RunningObjects> table, std::string name,
                    const Clock& clock, std::chrono::milliseconds limit = kProxyCallLimit)
      : table_(std::move(table)), name_(std::move(name)), clock_(clock), limit_(limit) {}
  HRESULT GetItemData(const std::string& item, OtlItemData& out) override;
  HRESULT GetMsgFile(const std::string& item, const std::string& mmfName, std::uint32_t mmfSize,
                     const std::string& prefix, std::string* files, std::string* text,
                     std::uint32_t* kind) override;

 private:
  HRESULT Invoke(const platform::CallRequest& call, platform::CallReply& reply) const;

  std::shared_ptr<const platform::RunningObjects> table_;
  std::string name_;
  const Clock& clock_;
  std::chrono::milliseconds limit_;
};

// The session's running object table as the filter's proxy table.
class SessionMailProxyTable final : public MailProxyTable {
 public:
  SessionMailProxyTable(std::shared_ptr<const platform::RunningObjects> table, const Clock& clock)
      : table_(std::move(table)), clock_(clock) {}
  HRESULT Find(const std::string& name, std::shared_ptr<IOtlIndexing>& out) const override;

 private:
  std::shared_ptr<const platform::RunningObjects> table_;
  const Clock& clock_;
};

}  // namespace qv::filters
