#pragma once
// What the document watchers tell the tracer's event window; each call only posts, from the
// watcher's own thread.
#include <cstdint>
#include <string>

namespace qv::tracer {

class DocumentEvents {
 public:
  virtual ~DocumentEvents() = default;
  // A document appeared (`key` 0 for one seen in the Recent folder): find its window and
  // open a document visit there.
  virtual void DocumentOpened(std::uint32_t key, std::string path) = 0;
  // One instance of the running document `key` went away; `remaining` are still open.
  virtual void DocumentClosed(std::uint32_t key, std::uint32_t remaining) = 0;
  // A watcher failed for good: the tracer is to stop.
  virtual void Fatal() = 0;
};

}  // namespace qv::tracer
