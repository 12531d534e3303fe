#pragma once
// The indexer's end of its filter host: documents of binary formats are read by a separate
// process (qvfilterhost) under CPU, memory and file limits, and under a wall-clock time-out
// kept here. A host that crashes, hangs, runs out of its limits or answers out of bounds is
// killed and costs only the document in hand; the next document starts a new host.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "platform/indexing/document_text.h"

namespace qv::platform::indexing {

// The extensions whose files go to the filter host ("pdf", without the dot).
bool IsHostedExtension(std::string_view extension);
// Whether a file goes to the filter host: a hosted extension, or a message in a Maildir
// folder (a file in cur/ or new/ beside tmp/, cur/ and new/), whose name has no extension to
// go by. The host reads the latter as mail only when its header says so.
bool IsHostedFile(const std::filesystem::path& file);

// qvfilterhost beside the running program; empty when there is none.
std::filesystem::path DefaultFilterHostProgram();

// How a document was lost to the host (the reader's own errors pass through unchanged).
inline constexpr HRESULT kHostTimedOut = HresultFromWin32(win32::ERROR_TIMEOUT);
inline constexpr HRESULT kHostDied = HresultFromWin32(win32::ERROR_BROKEN_PIPE);
inline constexpr HRESULT kHostBadReply = HresultFromWin32(win32::ERROR_INVALID_DATA);

struct FilterHostOptions {
  std::filesystem::path program;      // qvfilterhost, or a program that speaks as it does
  std::vector<std::string> extraArgs; // given to it after the limits
  ReaderLimits limits;
  std::chrono::milliseconds timeout{60'000};  // wall clock for one document
  std::uint32_t memoryMiB = 1024;
  std::uint32_t cpuSecondsPerDocument = 30;
  std::uint32_t cpuSecondsPerBatch = 300;
  std::uint32_t documentsPerHost = 2000;  // then a fresh host, whatever a reader leaked
};

class FilterHost {
 public:
  explicit FilterHost(FilterHostOptions options) : options_(std::move(options)) {}
  ~FilterHost();
  FilterHost(const FilterHost&) = delete;
  FilterHost& operator=(const FilterHost&) = delete;

  // Reads one document through the host, starting one when none runs. The reader's result,
  // or kHostTimedOut, kHostDied or kHostBadReply (the host is then gone), or the error of
  // starting the host.
  HRESULT Read(const std::filesystem::path& file, DocumentText& out);
  // What went wrong with the last document, for the log; empty after a success.
  const std::string& lastProblem() const { return problem_; }
  // Hosts started so far (a restart counts).
  int starts() const { return starts_; }
  pid_t pid() const { return pid_; }

 private:
  HRESULT Start();
  // Ends the host at once (SIGKILL) and reaps it.
  void Kill();
  // Closes the channel and lets the host leave on its own, killing it if it lingers.
  void Stop();
  HRESULT Fail(HRESULT hr, std::string problem);

  FilterHostOptions options_;
  int fd_ = -1;
  pid_t pid_ = -1;
  int starts_ = 0;
  std::string problem_;
};

// A host of the qvfilterhost beside the running program with the usual limits; null when
// that program is missing (documents of binary formats then get their properties only).
std::shared_ptr<FilterHost> MakeDefaultFilterHost();

}  // namespace qv::platform::indexing
