#include "context/context.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include "context/event_report.h"
#include "platform/fs/private_files.h"

namespace qv {

HRESULT SystemUserName(std::string& out) {
  out.clear();
  passwd pw{};
  passwd* result = nullptr;
  std::string buf(16384, '\0');
  const int rc = getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &result);
  if (rc != 0) return HresultFromErrno(rc);
  if (!result || !pw.pw_name || !*pw.pw_name) return S_OK;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return HresultFromErrno(errno);
  out = std::string(host) + "\\" + pw.pw_name;
  return S_OK;
}

HRESULT PreparePrivateRoot(const std::filesystem::path& root, const platform::EventLog& eventLog) {
  bool narrowed = false;
  if (const auto ec = platform::EnsurePrivateRoot(root, narrowed)) return HresultFromErrno(ec.value());
  if (narrowed) {
    eventLog.Report(kEventSource, platform::EventType::Warning, kCategoryProvider,
                    kEventRootNarrowed, {root.string()});
  }
  return S_OK;
}

Installation::Installation(std::filesystem::path root, std::unique_ptr<Clock> clock)
    : clock_(std::move(clock)),
      registry_(root),
      eventLog_(root, *clock_),
      context_{root, registry_, eventLog_, *clock_, classes_, SystemUserName} {
  (void)PreparePrivateRoot(context_.root, eventLog_);
}

}  // namespace qv
