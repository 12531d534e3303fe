#include "tracer/line_writer.h"

#include "common/oledate.h"

namespace qv::tracer {

bool LineSink::Open(const std::string& path) {
  if (path == "-") {
    file_ = stdout;
    return true;
  }
  file_ = std::fopen(path.c_str(), "ae");
  owned_ = file_ != nullptr;
  return owned_;
}

LineSink::~LineSink() {
  if (owned_) std::fclose(file_);
}

void LineSink::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  // One write and a flush per visit: a reader sees whole lines, and nothing waits in a buffer.
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

std::string FormatVisitLine(RecorderKind recorder, const Visit& visit) {
  auto escape = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else if (c == '\\') out += "\\\\";
      else out.push_back(c);
    }
    return out;
  };
  return std::string(RecorderName(recorder)) + "\t" + escape(visit.identifier) + "\t" +
         FormatIsoDate(FileTimeToDate(visit.start)) + "\t" +
         FormatIsoDate(FileTimeToDate(visit.end)) + "\t" + std::to_string(visit.workingTime) +
         "\t" + std::to_string(visit.activeTime) + "\t" + std::to_string(visit.recordFlags) +
         "\t" + std::to_string(visit.kind) + "\t" + escape(visit.frameData) + "\n";
}

}  // namespace qv::tracer
