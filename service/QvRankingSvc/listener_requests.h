#pragma once
// What the ranking service's listener hands to the parts that do its work. The service host
// (sockets, daemon, catalog worker) only carries calls; deferred rank updates, the job table
// and catalog maintenance plug in through ListenerHandlers, which the service's main fills.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::service {

// The process on whose behalf a call is made, from SO_PEERCRED of its connection (or this
// process itself for calls made in process).
struct Caller {
  uid_t uid = 0;
  gid_t gid = 0;
  pid_t pid = 0;
};

// The ten values of an update that met a locked file, unchanged.
struct PendingUpdate {
  std::string file;
  std::uint32_t units = 0;
  std::uint32_t visits = 0;
  DATE start = 0.0;
  DATE finish = 0.0;
  std::uint32_t workingTime = 0;
  std::uint32_t activeTime = 0;
  std::uint32_t scope = 0;
  std::uint32_t retry = 0;
  std::optional<std::string> searchKey;  // absent: a null key
};

// A slow catalog request, queued for the catalog worker.
struct CatalogRequest {
  enum class Kind { ConfigCheck = 1, MailProfile = 2 };
  Kind kind = Kind::ConfigCheck;
  std::string folder;       // ConfigCheck: the data folder, with a trailing separator
  bool rescan = false;      // ConfigCheck: rescan the web history scope
  std::string scopeRoot;    // MailProfile
  std::string profileName;  // MailProfile: kept, not otherwise used
  std::string stores;       // MailProfile: store names separated by ";"
  std::string owner;        // MailProfile: the caller's identity
  Caller caller;
};

using SystemTime = std::chrono::system_clock::time_point;

struct ListenerHandlers {
  // UpdatePending: schedules the deferred update; S_OK, S_FALSE at the retry limit, or an error.
  std::function<HRESULT(const PendingUpdate&, const Caller&)> updatePending;
  // CfgVerify and OtlProfile on the calling thread: check the arguments and build the request
  // that is then queued (E_INVALIDARG, E_ACCESSDENIED, ... when none can be built).
  std::function<HRESULT(std::string_view dir, bool rescan, const Caller&, CatalogRequest&)>
      makeConfigRequest;
  std::function<HRESULT(std::string_view profile, std::string_view scopeRoot,
                        std::string_view stores, const Caller&, CatalogRequest&)>
      makeMailProfileRequest;
  // On the catalog worker: carries out one queued request (failures go to the event log).
  std::function<void(const CatalogRequest&)> processCatalogRequest;
  std::function<HRESULT(std::string_view directory, const Caller&)> otlStopScope;
  std::function<HRESULT(std::string_view file, const Caller&)> deleteStale;
  // Runs every job of the job table that is due; returns when the next one is due.
  std::function<std::optional<SystemTime>()> runDueJobs;
};

}  // namespace qv::service
