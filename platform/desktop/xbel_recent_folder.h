#pragma once
// The Recent folder on the Linux desktop: the recent-files list recently-used.xbel, watched
// with inotify. Every bookmark stands for one link named after its target ("a.txt.lnk"); a
// bookmark that appears or whose time stamps change is an added or modified link.
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/desktop/recent_folder.h"

namespace qv::platform {

class XbelRecentFolder final : public RecentFolder {
 public:
  // `folder` holds recently-used.xbel (XDG_DATA_HOME, else ~/.local/share).
  explicit XbelRecentFolder(std::filesystem::path folder);
  ~XbelRecentFolder() override;
  XbelRecentFolder(const XbelRecentFolder&) = delete;
  XbelRecentFolder& operator=(const XbelRecentFolder&) = delete;

  HRESULT Open() override;
  HRESULT Close() override;
  HRESULT Read(RecentBatch& out) override;
  void Wait(std::chrono::milliseconds timeout) override;
  void Wake() override;
  HRESULT Resolve(const RecentChange& change, std::string& target) override;

 private:
  // Reads the list and adds what is new or renewed since the last look to `out`.
  HRESULT Rescan(std::vector<RecentChange>* out);

  std::filesystem::path folder_;
  int inotify_ = -1;
  int wake_ = -1;  // eventfd
  // href -> its time stamps when last seen; bookmarks are never forgotten, so a list that is
  // damaged for a moment does not make every document new again.
  std::map<std::string, std::string> seen_;
};

}  // namespace qv::platform
