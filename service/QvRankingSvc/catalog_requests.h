#pragma once
// The ranking service's catalog maintenance calls on the listener's side: checking and
// building the requests that the catalog worker carries out (configuration check, mail
// profile), stopping a caller's mail catalogs and deleting stale shortcut files for it.
#include <string_view>

#include "context/context.h"
// The listener's contract uses ULONG without declaring it.
#include "interfaces/ibase_activation.h"
#include "service/QvRankingSvc/listener_requests.h"

namespace qv::service {

// A call that could not be queued: a warning with the HRESULT.
inline constexpr std::uint32_t kEventRequestRefused = 0xC0000025;

// The folder (the caller's data folder) with a trailing "/" and the rescan flag. The folder
// must be canonical and inside the caller's home or the installation's data (see
// CheckCallerFolder); the caller must be the installation's user (E_ACCESSDENIED).
HRESULT MakeConfigRequest(const Context& ctx, std::string_view dir, bool rescan,
                          const Caller& caller, CatalogRequest& out);

// The scope root under the same rules as a configuration folder; stores as ParseStoreList
// takes them, kept normalised and joined by ";"; the owner is OwnerIdentity of the caller.
HRESULT MakeMailProfileRequest(const Context& ctx, std::string_view profile,
                               std::string_view scopeRoot, std::string_view stores,
                               const Caller& caller, CatalogRequest& out);

// Stops the private mail catalogs covering `dir` that belong to the caller; others' catalogs
// and the shared ones are left running. S_OK whatever happened to single catalogs.
HRESULT OtlStopScope(const Context& ctx, std::string_view dir, const Caller& caller);

// Deletes a stale .q6w, .q6e or .q6j file below one of the user's shortcut folders for the
// indexer, which runs as the user: any other caller, extension or folder gets E_ACCESSDENIED,
// a symbolic link on the way is never followed (E_ACCESSDENIED), S_FALSE when the file or a
// folder on the way does not exist.
HRESULT DeleteStale(const Context& ctx, std::string_view file, const Caller& caller);

// Fills the catalog maintenance entries of the listener's handlers. The context must outlive
// the handlers; the CIHelper and administration classes must be registered in it.
void BindCatalogHandlers(const Context& ctx, ListenerHandlers& handlers);

}  // namespace qv::service
