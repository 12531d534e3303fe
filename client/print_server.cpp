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
#include <ctime>
#include <exception>
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
  Server(Context& ctx, const DateLocale& dates, std::filesystem::path root, std::ostream& log)
      : ctx_(ctx), dates_(dates), root_(std::move(root)), log_(log) {
    PrepareSeekSession(ctx_, session_);
    exec_ = std::make_unique<platform::indexing::QueryExecutor>(*session_.admin);
  }

  // One connection: a request in, the byte that says it is taken, the reply out. Whether the
  // search was served. The log gets a line for it (never what was searched for) before the
  // client can see the answer or the refusal, so that the log is in step with the clients.
  bool Serve(int fd) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kClientTimeout, sizeof kClientTimeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kClientTimeout, sizeof kClientTimeout);
    std::string body;
    PrintRequest request;
    if (!ReadFrame(fd, kMaxPrintRequest, body) ||
        !DecodePrintRequest({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()},
                            request)) {
      return Decline("not a request");
    }
    PrintOptions opt;
    if (const std::string why = Declines(request, opt); !why.empty()) return Decline(why);
    if (::send(fd, &kPrintAccepted, 1, MSG_NOSIGNAL) != 1) {
      return Decline("the client went away");
    }
    const PrintReply reply = Run(opt);
    if (reply.served) log_ << "QvSeek: served search " << ++served_ << "\n" << std::flush;
    else Decline("the search did not fit in memory");
    WriteFrame(fd, EncodePrintReply(reply));  // a client gone by now searches itself
    return reply.served;
  }

  // Between searches: the property caches that the last search ran without are loaded now,
  // so that the next search does not pay for it (a quarter of a second at 100,000 documents),
  // and kept in a file beside each catalog, from which a process searching by itself answers
  // while the catalog stays as it is. A failure is logged; searches go on as without.
  void PrepareNext() {
    std::size_t loaded = 0;
    HRESULT hr = S_OK;
    try {
      hr = exec_->LoadWantedCaches(loaded);
    } catch (const std::exception&) {
      hr = E_OUTOFMEMORY;  // the next search runs without a cache
    }
    if (loaded) {
      log_ << "QvSeek: loaded the property caches of " << loaded << " catalog(s)\n" << std::flush;
    }
    if (Failed(hr)) {
      log_ << "QvSeek: could not keep a catalog ready for the next search (" << FormatHresult(hr)
           << " " << SystemMessage(hr) << "); searches go on without it\n" << std::flush;
    }
  }

 private:
  bool Decline(std::string_view why) {
    log_ << "QvSeek: declined a search: " << why << "\n" << std::flush;
    return false;
  }

  // Why this server does not take the request, or nothing; then `opt` holds its options.
  std::string Declines(const PrintRequest& request, PrintOptions& opt) {
    if (Normal(request.root) != Normal(root_)) return "another root";
    if (request.settings != OutputSettings()) {
      return "another time zone, locale or program";
    }
    if (request.args.empty() || request.args[0] != "--print") return "not a search";
    const std::vector<std::string_view> args(request.args.begin() + 1, request.args.end());
    std::string problem;
    if (!ParsePrintOptions(args, opt, problem)) return "not a search";
    // The client reads a list of keys itself, named relative to its own folder.
    if (!opt.keysFile.empty()) return "a list of search keys";
    // A new user's first search sets the catalogs up and starts the indexer: that belongs
    // to the user's own process, not to this one.
    std::vector<std::string> catalogs;
    if (Failed(session_.admin->ListCatalogs(catalogs)) || catalogs.empty()) {
      return "no catalog yet";
    }
    return {};
  }

  PrintReply Run(const PrintOptions& opt) {
    PrintReply reply;
    std::ostringstream out, err;
    try {
      ::tzset();  // the zone may have changed since the last search (localtime_r caches it)
      if (Failed(RefreshSeekSession(ctx_, dates_, err, session_))) {
        reply.exitCode = kSeekFailed;
      } else {
        reply.exitCode = RunPrint(opt, ctx_, dates_, session_, *exec_, out, err);
      }
      reply.out = std::move(out).str();
      reply.err = std::move(err).str();
    } catch (const std::exception&) {
      // Out of memory, most likely: the client searches itself, with its own.
      return PrintReply{};
    }
    if (reply.out.size() + reply.err.size() + 64 > kMaxPrintReply) return PrintReply{};
    reply.served = true;
    return reply;
  }

  Context& ctx_;
  const DateLocale& dates_;
  const std::filesystem::path root_;
  std::ostream& log_;
  std::uint64_t served_ = 0;
  SeekSession session_;
  std::unique_ptr<platform::indexing::QueryExecutor> exec_;
};

// Removes the socket's name when the server ends, however it ends.
class SocketName {
 public:
  explicit SocketName(std::string name) : name_(std::move(name)) {}
  ~SocketName() { ::unlink(name_.c_str()); }
  SocketName(const SocketName&) = delete;
  SocketName& operator=(const SocketName&) = delete;

 private:
  std::string name_;
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
  std::error_code ec;
  const std::filesystem::path root = std::filesystem::absolute(ctx.root, ec);
  if (ec) {
    err << "QvSeek: the root " << ctx.root.string() << " cannot be made absolute\n";
    return kSeekFailed;
  }
  const std::filesystem::path socketPath = PrintSocketPath(folder, root);
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
    out << "QvSeek: a print server of " << root.string() << " runs already.\n";
    return kSeekServerRuns;
  }
  StopSignals signals;
  if (signals.fd() < 0) {
    err << "QvSeek: cannot take the stop signals: " << std::strerror(errno) << "\n";
    return kSeekFailed;
  }
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
  const SocketName removeAtEnd(name);
  if (!listener ||
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(name.c_str(), 0600) != 0 || ::listen(listener.get(), 16) != 0) {
    err << "QvSeek: cannot listen at " << name << ": " << std::strerror(errno) << "\n";
    return kSeekFailed;
  }
  Server server(ctx, dates, root, out);
  out << "QvSeek: serving the searches of " << root.string() << " at " << name << "\n"
      << std::flush;

  const uid_t user = ::geteuid();
  auto lastUse = ctx.clock.Monotonic();
  for (;;) {
    pollfd fds[2] = {{listener.get(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
    if (::poll(fds, 2, kTickMs) < 0 && errno != EINTR) {
      err << "QvSeek: the server cannot wait for searches: " << std::strerror(errno) << "\n";
      return kSeekFailed;
    }
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
          // Only a served search counts as use: clients it declines do not keep it alive.
          if (server.Serve(conn.get())) lastUse = ctx.clock.Monotonic();
        }
      }
    }
    if (!std::filesystem::exists(root, ec) && !ec) break;
    if (ctx.clock.Monotonic() - lastUse >= options.idle) break;
    server.PrepareNext();
  }
  return kSeekOk;
}

}  // namespace qv::client
