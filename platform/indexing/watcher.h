#pragma once
// Follows changes under the scopes with inotify: every folder is watched on its own, new
// folders are added as they appear, and a queue overflow asks for a crawl instead.
// An extended-attribute change (a new ranking record) arrives as IN_ATTRIB.
#include <chrono>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/hresult.h"
#include "platform/indexing/scope_set.h"

namespace qv::platform::indexing {

class Watcher {
 public:
  // `maxWatches` caps the folders watched (0: only the kernel's limit); reaching it counts
  // as the kernel's ENOSPC does.
  explicit Watcher(std::size_t maxWatches = 0);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Watches `root` and every folder below it that `scopes` takes in; links are not
  // followed. Folders already watched are skipped. Out of watches (the HRESULT of ENOSPC)
  // ends the walk; TakeUnwatched then names the first folder left without a watch.
  HRESULT AddTree(const std::string& root, const ScopeSet& scopes);
  // The first folder that ran out of watches since the last call (here or while Wait
  // followed a new folder), or empty.
  std::string TakeUnwatched() { return std::exchange(unwatched_, {}); }
  bool IsWatched(const std::string& dir) const { return byPath_.count(dir) != 0; }
  // Waits up to `timeout` for events and appends the paths they name (a new folder is
  // watched before it is reported). `overflow` tells that events were lost.
  HRESULT Wait(std::chrono::milliseconds timeout, std::vector<std::string>& changed,
               bool& overflow);
  std::size_t watched() const { return byWd_.size(); }

 private:
  HRESULT AddOne(const std::string& dir);

  int fd_ = -1;
  std::size_t maxWatches_ = 0;
  std::string unwatched_;
  std::unordered_map<int, std::string> byWd_;
  std::unordered_map<std::string, int> byPath_;
  std::vector<const ScopeSet*> scopes_;
};

}  // namespace qv::platform::indexing
