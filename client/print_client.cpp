#include "client/print_client.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/unique_fd.h"

namespace qv::client {
namespace {

// Sending a request is quick; a search of a million documents may take a second or two,
// more while the server loads a catalog for the first time.
constexpr timeval kSendTimeout{2, 0};
constexpr timeval kAnswerTimeout{60, 0};

}  // namespace

bool AskPrintServer(const std::filesystem::path& root, std::span<const std::string_view> args,
                    PrintReply& reply) {
  const platform::RuntimeEnvironment env = platform::CurrentRuntimeEnvironment();
  const std::string socketPath = PrintSocketPath(platform::RuntimeFolderPath(env), root).string();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
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
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &kAnswerTimeout, sizeof kAnswerTimeout);
  PrintRequest request;
  request.root = root.string();
  request.settings = OutputSettings();
  request.args.assign(args.begin(), args.end());
  std::string body;
  if (!WriteFrame(fd.get(), EncodePrintRequest(request)) ||
      !ReadFrame(fd.get(), kMaxPrintReply, body)) {
    return false;
  }
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
