#include "client/print_client.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/unique_fd.h"

namespace qv::client {
namespace {

// A server that takes a search takes it at once; one that does not (busy with another search,
// stopped, its queue full) is not waited for. Once it has taken the search it answers within
// the search's own time: a second or two for a million documents, more while it loads a
// catalog for the first time.
constexpr timeval kTakeTimeout{3, 0};
constexpr timeval kAnswerTimeout{120, 0};

}  // namespace

bool AskPrintServer(const std::filesystem::path& root, std::span<const std::string_view> args,
                    PrintReply& reply) {
  const platform::RuntimeEnvironment env = platform::CurrentRuntimeEnvironment();
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(root, ec);
  if (ec) return false;
  const std::string socketPath =
      PrintSocketPath(platform::RuntimeFolderPath(env), absolute).string();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  // Bounds the connect too, which waits while the server's queue is full.
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &kTakeTimeout, sizeof kTakeTimeout);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &kTakeTimeout, sizeof kTakeTimeout);
  // No server (no socket, or one left by a server that died) costs a failed connect only.
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    return false;
  }
  // Only a server of this user gets the search, and hands back what is printed.
  ucred peer{};
  socklen_t len = sizeof peer;
  if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != env.uid) {
    return false;
  }
  PrintRequest request;
  request.root = absolute.string();
  request.settings = OutputSettings();
  request.args.assign(args.begin(), args.end());
  char taken = 0;
  if (!WriteFrame(fd.get(), EncodePrintRequest(request)) ||
      ::recv(fd.get(), &taken, 1, 0) != 1 || taken != kPrintAccepted) {
    return false;
  }
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &kAnswerTimeout, sizeof kAnswerTimeout);
  std::string body;
  if (!ReadFrame(fd.get(), kMaxPrintReply, body)) return false;
  PrintReply answer;
  if (!DecodePrintReply({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()},
                        answer) ||
      !answer.served) {
    return false;
  }
  reply = std::move(answer);
  return true;
}

}  // namespace qv::client
