#pragma once
// The filter host's side: a process that reads documents of binary formats for the indexer,
// one at a time, under resource limits, so that a reader that loops, swells or crashes costs
// one document and never the indexer. It serves requests from its standard input (the socket
// the indexer hands it) until the indexer closes it or its CPU budget for the batch is spent.
#include <cstdint>

#include "platform/indexing/document_text.h"

namespace qv::platform::indexing {

struct HostLimits {
  std::uint64_t memoryBytes = 1024ull << 20;  // address space (RLIMIT_AS)
  std::uint32_t cpuSecondsPerDocument = 30;   // one document's CPU time (RLIMIT_CPU)
  std::uint32_t cpuSecondsPerBatch = 300;     // the host's whole life; then a new one starts
  std::uint32_t maxDocuments = 2000;          // documents per host life
  std::uint32_t openFiles = 64;               // RLIMIT_NOFILE
};

// Applies the process limits: no core files, no file written (RLIMIT_FSIZE 0), few open
// descriptors, the memory cap (not under AddressSanitizer, whose shadow memory alone is larger
// than any cap) and the batch's CPU time; the host also dies with its parent. 0 or an errno.
int ApplyHostLimits(const HostLimits& limits);

// Serves requests on `fd` with `reader` until the other end closes it (0) or the batch is
// spent (0, after saying so in the last reply); a broken channel gives 1.
int ServeFilterRequests(int fd, const DocumentReaderFn& reader, const HostLimits& limits);

// The host program: parses "--memory-mib N --cpu-seconds N --batch-cpu-seconds N
// --max-documents N", applies the limits and serves standard input. The exit status.
int FilterHostMain(int argc, char** argv, const DocumentReaderFn& reader);

}  // namespace qv::platform::indexing
