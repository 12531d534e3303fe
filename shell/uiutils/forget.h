#pragma once
// Forgetting recent activity: the journal entries of the last hour, the last day or of all
// time, the ranking records of the files those entries visited, and the shortcuts and
// cached copies of the web pages they visited. Ranking records and web history go first and
// journal entries last, so that work cut short is finished by running it again: what is
// left to forget is still listed in the journal.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "common/hresult.h"

namespace qv::uiutils {

enum class ForgetSpan { LastHour, LastDay, Everything };

// "last-hour", "last-day", "everything".
bool ParseForgetSpan(std::string_view text, ForgetSpan& out);

struct ForgetSummary {
  std::uint64_t journalEntries = 0;   // entries removed from day files
  std::uint64_t journalDays = 0;      // day folders touched
  std::uint64_t rankingRecords = 0;   // files whose ranking record was removed
  std::uint64_t shortcuts = 0;        // web page shortcuts removed
  std::uint64_t cachedCopies = 0;     // cache entries of those pages removed
  std::vector<std::string> errors;    // what could not be forgotten, and why
};

// Which step is under way and how far it has come.
struct ForgetProgress {
  std::string_view step;
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

class Forgetter {
 public:
  // `lockWait`: how long to wait for a journal writer that holds a day file.
  Forgetter(const Context& ctx, std::chrono::milliseconds lockWait);

  // A visit is forgotten when it started or ended inside the span (up to now, by the
  // context's clock). S_OK when everything went; S_FALSE when something could not be
  // forgotten (listed in summary.errors; the rest is done).
  HRESULT Forget(ForgetSpan span, const std::function<void(const ForgetProgress&)>& progress,
                 ForgetSummary& summary);

 private:
  const Context& ctx_;
  std::chrono::milliseconds lockWait_;
};

}  // namespace qv::uiutils
