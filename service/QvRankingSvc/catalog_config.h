#pragma once
// The catalog worker's side of catalog maintenance: the configuration check of a user's
// data folder (the shared catalogs System, QuillonWebHistory and QuillonJournal with their
// ranking properties) and the private mail catalogs of a mail profile. The configuration
// check returns what it did per catalog, so that the service, `qvindex verify`, the first
// search of a new user and the indexing service's start share it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "context/context.h"
// The listener's contract uses ULONG without declaring it.
#include "interfaces/ibase_activation.h"
#include "service/QvRankingSvc/listener_requests.h"

namespace qv::service {

// A catalog the worker could not create or repair: the catalog's name and the HRESULT.
inline constexpr std::uint32_t kEventCatalogFailed = 0xC0000900;
// The name the event of a failed mail profile request carries.
inline constexpr std::string_view kMailEventName = "Email";
// Private mail catalogs are "Quillon_<owner's scope hash %x>_<store %x>".
inline constexpr std::string_view kMailCatalogPrefix = "Quillon_";
// The shared catalogs' scopes below the data folder.
inline constexpr std::string_view kWebHistoryScope = "Quillon/WebHistory";
inline constexpr std::string_view kJournalScope = "Quillon/Journal";
inline constexpr std::string_view kWebHistoryCatalog = "QuillonWebHistory";
inline constexpr std::string_view kJournalCatalog = "QuillonJournal";

struct CatalogOutcome {
  enum class Result { Created, Repaired, Unchanged, Failed };
  std::string name;
  std::string scope;  // empty for System
  Result result = Result::Unchanged;
  HRESULT hr = S_OK;
};

struct ConfigReport {
  std::vector<CatalogOutcome> catalogs;  // System, QuillonWebHistory, QuillonJournal
  bool restartNeeded = false;   // a repair asked for the indexing service to be restarted
  bool restarted = false;       // it ran before and was started again
  HRESULT restartResult = S_OK;
  bool rescanQueued = false;    // the web history scope was queued for a full rescan
};

// How the indexing service is restarted when a repair asks for it: the repair has stopped it
// already; it is started again only when it ran before the request, since the service here is
// the user's own indexer, started on demand, not a machine service that must always run.
//
// Repairs the shared catalogs over `folder` (the data folder, with or without a trailing
// separator): failures are logged per catalog (kEventCatalogFailed) and the others are still
// handled. Fails only when the administration object cannot be created (report empty).
HRESULT VerifyConfiguration(const Context& ctx, std::string_view folder, bool rescan,
                            ConfigReport& report);

// The same for the installation's own data folder, <root>/LocalAppData, when no catalog is
// registered yet; S_FALSE (and an empty report) when there is one already.
HRESULT VerifyIfNoCatalog(const Context& ctx, ConfigReport& report);

// "Quillon_<ScopeHash(owner) %x>_<store>".
std::string MailCatalogName(std::string_view owner, std::string_view store);

// The mail profile request: one private catalog per store; failures are logged once as
// kEventCatalogFailed with kMailEventName and the remaining stores are not handled.
HRESULT ProcessMailProfile(const Context& ctx, const CatalogRequest& request);

// Carries out a queued request on the catalog worker; failures go to the event log.
void ProcessCatalogRequest(const Context& ctx, const CatalogRequest& request);

// Registers the administration object and CIHelper classes in the context, as a process
// that carries out requests needs them.
void RegisterCatalogClasses(const Context& ctx);

// "created", "repaired (index rebuilt)", "up to date" or "failed".
std::string_view OutcomeText(CatalogOutcome::Result r);

}  // namespace qv::service
