#include "platform/eventlog/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "platform/eventlog/json_line.h"
#include "platform/fs/log_rotation.h"
#include "platform/fs/private_files.h"

namespace qv::platform {

EventLog::EventLog(std::filesystem::path root, const Clock& clock)
    : root_(std::move(root)), clock_(clock) {}

std::filesystem::path EventLog::path() const { return root_ / "eventlog" / "Application.log"; }

void EventLog::Report(std::string_view source, EventType type, std::uint16_t category,
                      std::uint32_t eventId, const std::vector<std::string>& strings) const {
  EventRecord rec;
  rec.time = clock_.Now();
  rec.source = std::string(source);
  rec.type = type;
  rec.category = category;
  rec.eventId = eventId;
  rec.strings.assign(strings.begin(),
                     strings.begin() + std::min(strings.size(), kMaxInsertionStrings));
  const std::string line = FormatEventLine(rec);

  if (CreatePrivateFolders(path().parent_path())) return;
  const int fd = OpenRotatedLog(path());
  if (fd < 0) return;
  // One write per event: O_APPEND makes each line land whole even with concurrent writers.
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  ::close(fd);
}

std::vector<EventRecord> EventLog::ReadAll() const {
  std::vector<EventRecord> out;
  // The previous log, kept by the last rotation, holds the older events.
  for (const auto& file : {PreviousLogPath(path()), path()}) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      EventRecord rec;
      if (ParseEventLine(line, rec)) out.push_back(std::move(rec));
    }
  }
  return out;
}

}  // namespace qv::platform
