#include "platform/indexing/filter_host.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "common/utf.h"
#include "platform/indexing/filter_host_protocol.h"
#include "platform/process/spawn.h"

namespace qv::platform::indexing {
namespace {

// Binary formats, read only in the host; text, HTML and XML stay with the in-process filters.
constexpr std::array<std::string_view, 10> kHostedExtensions = {
    "pdf", "odt", "ods", "odp", "docx", "xlsx", "pptx", "epub", "rtf", "eml"};

constexpr std::chrono::milliseconds kExitGrace{2000};

std::string SignalText(int sig) {
  switch (sig) {
    case SIGXCPU: return "its CPU time ran out";
    case SIGKILL: return "it was killed";
    case SIGSEGV: return "it crashed (SIGSEGV)";
    case SIGABRT: return "it aborted";
    case SIGXFSZ: return "it tried to write a file";
    default: return "it ended on signal " + std::to_string(sig);
  }
}

}  // namespace

bool IsHostedExtension(std::string_view extension) {
  const std::string ext = AsciiLower(extension);
  return std::find(kHostedExtensions.begin(), kHostedExtensions.end(), ext) !=
         kHostedExtensions.end();
}

bool IsHostedFile(const std::filesystem::path& file) {
  if (file.has_extension() && IsHostedExtension(file.extension().string().substr(1))) return true;
  const auto folder = file.parent_path();
  if (folder.filename() != "cur" && folder.filename() != "new") return false;
  const auto maildir = folder.parent_path();
  std::error_code ec;
  return std::filesystem::is_directory(maildir / "tmp", ec) &&
         std::filesystem::is_directory(maildir / "cur", ec) &&
         std::filesystem::is_directory(maildir / "new", ec);
}

std::filesystem::path DefaultFilterHostProgram() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  auto program = self.parent_path() / "qvfilterhost";
  return std::filesystem::is_regular_file(program, ec) ? program : std::filesystem::path();
}

std::shared_ptr<FilterHost> MakeDefaultFilterHost() {
  FilterHostOptions options;
  options.program = DefaultFilterHostProgram();
  if (options.program.empty()) return nullptr;
  return std::make_shared<FilterHost>(std::move(options));
}

FilterHost::~FilterHost() { Stop(); }

HRESULT FilterHost::Start() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    return HresultFromErrno(errno);
  }
  std::vector<std::string> argv{options_.program.string(),
                                "--memory-mib", std::to_string(options_.memoryMiB),
                                "--cpu-seconds", std::to_string(options_.cpuSecondsPerDocument),
                                "--batch-cpu-seconds",
                                std::to_string(options_.cpuSecondsPerBatch),
                                "--max-documents", std::to_string(options_.documentsPerHost)};
  argv.insert(argv.end(), options_.extraArgs.begin(), options_.extraArgs.end());
  SpawnOptions spawn;
  spawn.stdinFd = fds[1];
  pid_t pid = -1;
  const HRESULT hr = SpawnProcess(argv, spawn, pid);
  ::close(fds[1]);
  if (Failed(hr)) {
    ::close(fds[0]);
    return hr;
  }
  fd_ = fds[0];
  pid_ = pid;
  ++starts_;
  return S_OK;
}

void FilterHost::Kill() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    (void)WaitChild(pid_, std::chrono::seconds(30));
  }
  pid_ = -1;
}

void FilterHost::Stop() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (pid_ > 0 && !WaitChild(pid_, kExitGrace)) Kill();
  pid_ = -1;
}

HRESULT FilterHost::Fail(HRESULT hr, std::string problem) {
  // Why the host ended, when it did, says more than a broken channel.
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    if (auto end = WaitChild(pid_, std::chrono::seconds(30))) {
      if (!end->exited && end->status != SIGKILL) problem = SignalText(end->status);
      if (end->exited && hr == kHostDied) {
        problem = "it exited with status " + std::to_string(end->status);
      }
    }
    pid_ = -1;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  problem_ = "the filter host lost the document: " + problem;
  return hr;
}

HRESULT FilterHost::Read(const std::filesystem::path& file, DocumentText& out) {
  out = DocumentText{};
  problem_.clear();
  if (file.native().size() > kMaxHostPath) {
    problem_ = "the path is too long for the filter host";
    return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  }
  // A host that left between documents (a retiring one, or one killed from outside) is
  // replaced before it is asked.
  if (pid_ > 0 && TryReapChild(pid_)) {
    pid_ = -1;
    ::close(fd_);
    fd_ = -1;
  }
  if (fd_ < 0) {
    const HRESULT hr = Start();
    if (Failed(hr)) {
      problem_ = "the filter host " + options_.program.string() + " cannot start";
      return hr;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
  const std::string request = EncodeRequest(file.native(), options_.limits);
  std::string_view left = request;
  while (!left.empty()) {
    const ssize_t w = ::send(fd_, left.data(), left.size(), MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return Fail(kHostDied, "it was gone before the request");
    left.remove_prefix(static_cast<std::size_t>(w));
  }
  ReplyDecoder decoder(options_.limits);
  std::vector<std::uint8_t> buf(64 * 1024);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Fail(kHostTimedOut, "it took longer than the time allowed");
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(wait.count(), 60'000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Fail(kHostDied, std::strerror(errno));
    if (ready == 0) continue;
    const ssize_t r = ::recv(fd_, buf.data(), buf.size(), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return Fail(kHostDied, "it ended before it answered");
    switch (decoder.Feed(std::span(buf.data(), static_cast<std::size_t>(r)))) {
      case ReplyDecoder::State::NeedMore: continue;
      case ReplyDecoder::State::Bad: return Fail(kHostBadReply, decoder.error());
      case ReplyDecoder::State::Done: break;
    }
    break;
  }
  out = std::move(decoder.text());
  if (decoder.retiring()) Stop();
  return decoder.status();
}

}  // namespace qv::platform::indexing
