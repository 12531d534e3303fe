#pragma once
// The session's running object table: a folder of named endpoints, one listening socket per
// registered name, inside the user's runtime folder. An object registered here is served on
// threads of the registering process; any process of the same user reaches it by name and
// calls it with remote calls (one connection per call, so giving up on a call is closing
// its connection, which the server notices and passes on to the call as a stop request).
//
// File names: a name made of letters, digits, '-', '_' and '.' (not leading) that fits is
// kept readable after "n="; any other byte becomes "%XX". A name whose readable form would
// not fit becomes "h=" and a 128-bit hash of it. Either way no name can reach outside the
// folder or make a file name the other form could make.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/com/remote_call.h"
#include "platform/messaging/unique_fd.h"

namespace qv::platform {

// Nothing serves the name ("not running").
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHr(0x800401E3);
// The call was cancelled by its caller.
inline constexpr HRESULT RPC_E_CALL_CANCELED = MakeHr(0x80010002);

inline constexpr std::string_view kRunningObjectsFolderName = "rot";
// A readable file name longer than this is hashed instead, which keeps every socket path
// inside what a socket address can hold.
inline constexpr std::size_t kMaxReadableEndpointName = 64;
// Calls served at once per registration; more callers are refused until one finishes.
inline constexpr std::size_t kMaxServedCalls = 32;
// A connection whose call has not arrived by then is closed, so an idle caller cannot hold
// one of those places.
inline constexpr std::chrono::milliseconds kCallArrivalLimit{10000};

std::string EndpointFileName(std::string_view name);

// Runs one call. `out` receives the call's out values (sent back as a Values reply when it is
// not empty). `cancel` is requested when the caller gives up or the registration is revoked.
using CallHandler = std::function<HRESULT(const CallRequest& call, std::vector<CallArg>& out,
                                          std::stop_token cancel)>;
// Reads the identity of a connection's other end; SO_PEERCRED unless a test replaces it.
using PeerReader = std::function<bool(int fd, PeerIdentity& out)>;

struct RunningObjectsOptions {
  std::filesystem::path folder;  // the table's folder (created 0700, refused unless owned)
  uid_t uid = 0;                 // the only user served and trusted
  PeerReader peer;               // empty: ReadPeerIdentity
};

// The table's folder in the calling user's runtime folder.
HRESULT SessionRunningObjectsFolder(std::filesystem::path& out);

class RunningObjects;

// A name being served; revoked (the name removed, every call in progress cancelled and
// joined) when it is destroyed.
class Registration {
 public:
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  const std::string& name() const { return name_; }
  // Takes the name away so no new caller finds it; calls already connected are still served
  // until the registration is destroyed. Safe from inside one of its own calls.
  void Withdraw();

 private:
  friend class RunningObjects;
  struct Call;
  Registration(std::string name, std::filesystem::path path, CallHandler handler,
               PeerReader peer, uid_t uid, UniqueFd listen, UniqueFd stop);
  void AcceptLoop(std::stop_token stop);
  void Serve(Call& call);
  void Reap();

  std::string name_;
  std::filesystem::path path_;
  CallHandler handler_;
  PeerReader peer_;
  uid_t uid_;
  UniqueFd listen_;
  UniqueFd stopEvent_;
  ino_t inode_ = 0;
  std::mutex mutex_;
  std::list<std::unique_ptr<Call>> calls_;
  std::jthread acceptor_;  // last: stopped first
};

class RunningObjects {
 public:
  explicit RunningObjects(RunningObjectsOptions options);

  // Serves `name` with `handler` until the registration is destroyed. The name must not be
  // empty (E_INVALIDARG); one already served by a live endpoint gives ERROR_ALREADY_EXISTS.
  HRESULT Register(std::string_view name, CallHandler handler,
                   std::unique_ptr<Registration>& out) const;
  // A connection to the endpoint serving `name`: MK_E_UNAVAILABLE when none does (a socket
  // left by a process that died is removed on the way), E_ACCESSDENIED when the endpoint
  // belongs to another user.
  HRESULT Connect(std::string_view name, UniqueFd& out) const;
  bool IsRunning(std::string_view name) const;

  // One call on the object `name`: waits for its reply at most `limit` (ERROR_TIMEOUT) and
  // gives up at once when `cancel` is requested (RPC_E_CALL_CANCELED); either way the
  // connection is closed, which cancels the call in the server. The call's own result is in
  // `reply.hr`.
  HRESULT Call(std::string_view name, const CallRequest& call, const Clock& clock,
               std::chrono::milliseconds limit, std::stop_token cancel, CallReply& reply) const;

  const std::filesystem::path& folder() const { return options_.folder; }

 private:
  HRESULT Prepare() const;
  // Under the table's lock: removes a socket at `path` nobody serves.
  void RemoveIfStale(const std::filesystem::path& path) const;

  RunningObjectsOptions options_;
};

}  // namespace qv::platform
