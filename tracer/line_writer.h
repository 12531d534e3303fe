#pragma once
// Until the file, web and mail recorders exist, the tracer program hands finished visits to
// this writer: one tab-separated line per visit (recorder, identifier, start, end, working and
// active time in 100 ns units, recording flags, kind, frame data with \n escaped).
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "tracer/recorders.h"

namespace qv::tracer {

// One output shared by the three recorders' writers.
class LineSink {
 public:
  // Appends to `path`; "-" is standard output. False if it cannot be opened.
  bool Open(const std::string& path);
  void Write(const std::string& line);
  ~LineSink();

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

std::string FormatVisitLine(RecorderKind recorder, const Visit& visit);

class LineVisitWriter final : public VisitWriter {
 public:
  LineVisitWriter(RecorderKind kind, LineSink& sink) : kind_(kind), sink_(sink) {}
  void Record(const Visit& visit) override { sink_.Write(FormatVisitLine(kind_, visit)); }

 private:
  RecorderKind kind_;
  LineSink& sink_;
};

}  // namespace qv::tracer
