#pragma once
// The RecentFolder port: links to the documents the user opened lately, and notices when
// links are added or renewed. The desktop's recent-files list (recently-used.xbel) stands
// for the folder of links; a simulated source drives tests and the demo.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/hresult.h"

namespace qv::platform {

inline constexpr std::uint32_t kRecentActionAdded = 1;
inline constexpr std::uint32_t kRecentActionRemoved = 2;
inline constexpr std::uint32_t kRecentActionModified = 3;

struct RecentChange {
  std::uint32_t action = kRecentActionAdded;
  std::string name;  // the link's name, such as "report.odt.lnk"
  std::string link;  // what Resolve needs to find the target
};

struct RecentBatch {
  // A notice that carried no records: changes were lost (the queue overflowed).
  bool empty = false;
  std::vector<RecentChange> changes;
};

class RecentFolder {
 public:
  virtual ~RecentFolder() = default;
  // Starts watching; changes from now on are reported.
  virtual HRESULT Open() = 0;
  virtual HRESULT Close() = 0;
  // Does not block: S_OK with what arrived, S_FALSE when nothing did; an error when the
  // notices cannot be read (the caller reopens).
  virtual HRESULT Read(RecentBatch& out) = 0;
  // Blocks until Read may have something, Wake is called, or `timeout` passes.
  virtual void Wait(std::chrono::milliseconds timeout) = 0;
  // Ends a Wait at once; callable from any thread.
  virtual void Wake() = 0;
  // The link's target path; an error when the link does not resolve.
  virtual HRESULT Resolve(const RecentChange& change, std::string& target) = 0;
};

}  // namespace qv::platform
