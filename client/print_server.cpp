#include "client/print_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <sstream>
#include <system_error>
#include <vector>

#include "client/command_line.h"
#include "client/print_protocol.h"
#include "client/qvseek_cli.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/unique_fd.h"

namespace qv::client {
namespace {

using platform::UniqueFd;

// A client that stalls mid-request is dropped, so that the next one is not kept waiting.
constexpr timeval kClientTimeout{5, 0};
// How often the server looks whether it has been idle too long or its root is gone.
constexpr int kTickMs = 1000;

std::string Normal(const std::filesystem::path& p) { return p.lexically_normal().string(); }

// The signals that end the server, taken as they come through a descriptor instead of
// interrupting whatever runs; the old mask comes back when the server ends.
class StopSignals {
 public:
  StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    fd_.Reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  }
  ~StopSignals() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  int fd() const { return fd_.get(); }

 private:
  sigset_t old_;
  UniqueFd fd_;
};

class Server {
 public:
  Server(Context& ctx, const DateLocale& dates) : ctx_(ctx), dates_(dates) {
    PrepareSeekSession(ctx_, session_);
    exec_ = std::make_unique<platform::indexing::QueryExecutor>(*session_.admin);
  }

  // One connection: a request in, a reply out. Whether the search was run here.
  bool Serve(int fd) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kClientTimeout, sizeof kClientTimeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kClientTimeout, sizeof kClientTimeout);
    std::string body;
    PrintRequest request;
    if (!ReadFrame(fd, kMaxPrintRequest, body) ||
        !DecodePrintRequest({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()},
                            request)) {
      return false;  // not a request: nothing to answer
    }
    const PrintReply reply = Run(request);
    WriteFrame(fd, EncodePrintReply(reply));
    return reply.served;
  }

 private:
  PrintReply Run(const PrintRequest& request) {
    PrintReply reply;  // declined unless everything below holds
    if (Normal(request.root) != Normal(ctx_.root) || request.settings != OutputSettings() ||
        request.args.empty() || request.args[0] != "--print") {
      return reply;
    }
    const std::vector<std::string_view> args(request.args.begin() + 1, request.args.end());
    PrintOptions opt;
    std::string problem;
    // Only what the client would search itself; it reads a list of keys itself.
    if (!ParsePrintOptions(args, opt, problem) || !opt.keysFile.empty()) return reply;
    std::ostringstream out, err;
    try {
      if (Failed(RefreshSeekSession(ctx_, dates_, err, session_))) {
        reply.exitCode = kSeekFailed;
      } else {
        reply.exitCode = RunPrint(opt, ctx_, dates_, session_, *exec_, out, err);
      }
      reply.out = std::move(out).str();
      reply.err = std::move(err).str();
    } catch (const std::bad_alloc&) {
      return PrintReply{};  // the client searches itself, with its own memory
    }
    if (reply.out.size() + reply.err.size() + 64 > kMaxPrintReply) return PrintReply{};
    reply.served = true;
    return reply;
  }

  Context& ctx_;
  const DateLocale& dates_;
  SeekSession session_;
  std::unique_ptr<platform::indexing::QueryExecutor> exec_;
};

}  // namespace

int RunPrintServer(Context& ctx, const DateLocale& dates, const PrintServerOptions& options,
                   std::ostream& out, std::ostream& err) {
  std::filesystem::path folder;
  if (const HRESULT hr = platform::OpenRuntimeFolder(folder); Failed(hr)) {
    err << "QvSeek: the runtime folder cannot be used: " << FormatHresult(hr) << " "
        << SystemMessage(hr) << "\n";
    return kSeekFailed;
  }
  const std::filesystem::path socketPath = PrintSocketPath(folder, ctx.root);
  std::filesystem::path lockPath = socketPath;
  lockPath.replace_extension(".lock");
  // The lock is held while the server runs and never removed, so that two servers starting
  // at once cannot both take the socket's name.
  UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock) {
    err << "QvSeek: cannot open " << lockPath.string() << ": " << std::strerror(errno) << "\n";
    return kSeekFailed;
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    out << "QvSeek: a print server of " << ctx.root.string() << " runs already.\n";
    return kSeekOk;
  }
  StopSignals signals;
  // A log read through a pipe that closes must not end the server.
  ::signal(SIGPIPE, SIG_IGN);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string name = socketPath.string();
  if (name.size() >= sizeof addr.sun_path) {
    err << "QvSeek: the socket's path is too long: " << name << "\n";
    return kSeekFailed;
  }
  std::memcpy(addr.sun_path, name.c_str(), name.size() + 1);
  ::unlink(name.c_str());  // left by a server that died; the lock says none runs now
  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener ||
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(name.c_str(), 0600) != 0 || ::listen(listener.get(), 16) != 0) {
    err << "QvSeek: cannot listen at " << name << ": " << std::strerror(errno) << "\n";
    return kSeekFailed;
  }
  Server server(ctx, dates);
  out << "QvSeek: serving the searches of " << ctx.root.string() << " at " << name << "\n"
      << std::flush;

  const uid_t user = ::geteuid();
  std::uint64_t served = 0;
  auto lastUse = ctx.clock.Monotonic();
  for (;;) {
    pollfd fds[2] = {{listener.get(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
    const int ready = ::poll(fds, signals.fd() >= 0 ? 2 : 1, kTickMs);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents) {  // asked to stop: taken, so it does not strike once unblocked
      signalfd_siginfo info;
      while (::read(signals.fd(), &info, sizeof info) == sizeof info) {
      }
      break;
    }
    if (fds[0].revents & POLLIN) {
      UniqueFd conn(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (conn) {
        // The socket's folder is the user's alone; this refuses anyone who got in anyway.
        ucred peer{};
        socklen_t len = sizeof peer;
        if (::getsockopt(conn.get(), SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0 &&
            peer.uid == user) {
          // A line per search, for the service's log: never what was searched for.
          if (server.Serve(conn.get())) {
            out << "QvSeek: served search " << ++served << "\n" << std::flush;
          }
          lastUse = ctx.clock.Monotonic();
        }
      }
    }
    std::error_code ec;
    if (!std::filesystem::exists(ctx.root, ec) && !ec) break;
    if (ctx.clock.Monotonic() - lastUse >= options.idle) break;
  }
  ::unlink(name.c_str());
  return kSeekOk;
}

}  // namespace qv::client
