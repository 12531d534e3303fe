#include "platform/indexing/filter_host_worker.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/indexing/filter_host_protocol.h"

namespace qv::platform::indexing {
namespace {

// AddressSanitizer and ThreadSanitizer reserve far more address space than the memory cap
// leaves a process, so a sanitizer build runs the host without that one cap.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerShadow = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizerShadow = true;
#else
constexpr bool kSanitizerShadow = false;
#endif
#else
constexpr bool kSanitizerShadow = false;
#endif

int SetLimit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit r{soft, hard};
  return ::setrlimit(resource, &r) == 0 ? 0 : errno;
}

bool ReadAll(int fd, char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    // send() on the socket: a gone indexer is an error here, not a SIGPIPE.
    ssize_t w = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (w < 0 && errno == ENOTSOCK) w = ::write(fd, data.data(), data.size());
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(w));
  }
  return true;
}

double CpuSecondsUsed() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool ParseCount(const char* text, std::uint64_t& out) {
  const std::string_view s(text);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && out > 0;
}

}  // namespace

int ApplyHostLimits(const HostLimits& limits) {
  // The host has no business outliving the indexer that feeds it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (int e = SetLimit(RLIMIT_CORE, 0, 0)) return e;
  if (int e = SetLimit(RLIMIT_FSIZE, 0, 0)) return e;
  if (int e = SetLimit(RLIMIT_NOFILE, limits.openFiles, limits.openFiles)) return e;
  if (!kSanitizerShadow) {
    if (int e = SetLimit(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes)) return e;
  }
  // The hard limit is the batch; the soft one is moved before each document.
  const rlim_t batch = limits.cpuSecondsPerBatch;
  return SetLimit(RLIMIT_CPU, std::min<rlim_t>(batch, limits.cpuSecondsPerDocument), batch);
}

int ServeFilterRequests(int fd, const DocumentReaderFn& reader, const HostLimits& limits) {
  for (std::uint32_t served = 0;; ++served) {
    char header[4];
    if (!ReadAll(fd, header, sizeof header)) return 0;  // the indexer is done with us
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
      length |= static_cast<std::uint32_t>(static_cast<unsigned char>(header[i])) << (8 * i);
    }
    if (length == 0 || length > kMaxHostFrame) return 1;
    std::string frame(length, '\0');
    if (!ReadAll(fd, frame.data(), frame.size())) return 1;
    std::string path;
    ReaderLimits readerLimits;
    if (frame[0] != kFrameRequest ||
        !DecodeRequest(std::string_view(frame).substr(1), path, readerLimits)) {
      return 1;
    }
    // This document may use its own CPU allowance, and never more than the batch has left;
    // past it the kernel sends SIGXCPU and the indexer sees the host die.
    const double used = CpuSecondsUsed();
    const auto soft = static_cast<rlim_t>(used) + limits.cpuSecondsPerDocument;
    const rlim_t hard = limits.cpuSecondsPerBatch;
    SetLimit(RLIMIT_CPU, std::min(soft, hard), hard);

    DocumentText text;
    HRESULT hr = E_FAIL;
    try {
      hr = reader(path, readerLimits, text);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      text = DocumentText{};
    } catch (...) {
      hr = E_FAIL;
      text = DocumentText{};
    }
    const bool retiring = served + 1 >= limits.maxDocuments ||
                          CpuSecondsUsed() + limits.cpuSecondsPerDocument >
                              static_cast<double>(limits.cpuSecondsPerBatch);
    if (!WriteAll(fd, EncodeReply(text, hr, readerLimits, retiring))) return 1;
    if (retiring) return 0;
  }
}

int FilterHostMain(int argc, char** argv, const DocumentReaderFn& reader) {
  HostLimits limits;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "Usage: qvfilterhost [--memory-mib N] [--cpu-seconds N] [--batch-cpu-seconds N]\n"
          "                    [--max-documents N]\n"
          "Reads documents of binary formats (PDF, office, EPUB, RTF, mail) for the indexer,\n"
          "which starts it with a socket as standard input; it is not run by hand.\n");
      return 0;
    }
    std::uint64_t v = 0;
    if (i + 1 >= argc || !ParseCount(argv[i + 1], v)) {
      std::fprintf(stderr, "qvfilterhost: %s needs a positive number; see --help\n", argv[i]);
      return 2;
    }
    ++i;
    if (arg == "--memory-mib") {
      limits.memoryBytes = v << 20;
    } else if (arg == "--cpu-seconds") {
      limits.cpuSecondsPerDocument = static_cast<std::uint32_t>(v);
    } else if (arg == "--batch-cpu-seconds") {
      limits.cpuSecondsPerBatch = static_cast<std::uint32_t>(v);
    } else if (arg == "--max-documents") {
      limits.maxDocuments = static_cast<std::uint32_t>(v);
    } else {
      std::fprintf(stderr, "qvfilterhost: unknown option %s; see --help\n", argv[i - 1]);
      return 2;
    }
  }
  if (limits.cpuSecondsPerBatch < limits.cpuSecondsPerDocument) {
    limits.cpuSecondsPerBatch = limits.cpuSecondsPerDocument;
  }
  // The channel moves off standard input, which then reads nothing, and standard output goes
  // nowhere: a reader library that prints cannot garble the replies.
  const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) {
    std::fprintf(stderr, "qvfilterhost: no channel on standard input: %s\n", std::strerror(errno));
    return 1;
  }
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  if (const int e = ApplyHostLimits(limits)) {
    std::fprintf(stderr, "qvfilterhost: cannot set its limits: %s\n", std::strerror(e));
    return 1;
  }
  const int code = ServeFilterRequests(fd, reader, limits);
  ::close(fd);
  return code;
}

}  // namespace qv::platform::indexing
