#include "client/search_run.h"

#include <unistd.h>

#include <charconv>

#include "platform/folders/folders.h"
#include "provider/ranking/base_activation.h"

namespace qv::client {

namespace ix = platform::indexing;

std::string UserSidText() { return "S-1-22-1-" + std::to_string(::getuid()); }

namespace {

// The mail add-in keeps one key per tracked store, named by the store's number in hexadecimal;
// each store has its own mail catalog.
constexpr std::string_view kTrackedStoresKey = "Software\\Quillon\\Vesper\\EMail\\PSTs";

std::vector<std::uint32_t> TrackedMailStores(const platform::Registry& registry) {
  std::vector<std::string> keys;
  std::vector<std::uint32_t> stores;
  if (registry.EnumKeys(platform::Hive::CurrentUser, kTrackedStoresKey, keys) != 0) return stores;
  for (const std::string& k : keys) {
    std::uint32_t n = 0;
    const auto [p, ec] = std::from_chars(k.data(), k.data() + k.size(), n, 16);
    if (ec == std::errc() && p == k.data() + k.size() && n != 0) stores.push_back(n);
  }
  return stores;
}

}  // namespace

HRESULT MakeComposeEnvironment(const Context& ctx, const DateLocale& dates,
                               const ix::CatalogAdmin* admin, ComposeEnvironment& out) {
  out = ComposeEnvironment{};
  BaseActivation activation(ctx);
  ULONG scope = 0;
  const HRESULT hr = activation.ComputeScope(scope);
  if (Failed(hr)) return hr;
  out.userScope = scope;
  out.localAppData =
      platform::KnownFolderPath(ctx.root, platform::KnownFolder::LocalAppData).string();
  // The folders that stand for the system's own programs on this platform.
  out.windowsFolder = "/usr";
  out.programFilesFolder = "/opt";
  out.mailStores = TrackedMailStores(ctx.registry);
  if (admin) {
    out.catalogRegistered = [admin](std::string_view name, bool& registered) {
      const HRESULT hr = admin->FindCatalog(name);
      registered = Succeeded(hr);
      return hr == HresultFromWin32(win32::ERROR_NOT_FOUND) ? S_OK : hr;
    };
    out.mailCatalogUsable = [admin](std::string_view name, bool& usable) {
      usable = false;
      HRESULT hr = admin->FindCatalog(name);
      if (Failed(hr)) return S_OK;  // missing: skipped
      bool stopped = true;
      hr = admin->IsCatalogStopped(name, stopped);
      usable = Succeeded(hr) && !stopped;
      return S_OK;
    };
  }
  out.userSid = [](std::string& sid) {
    sid = UserSidText();
    return S_OK;
  };
  out.dates = &dates;
  out.now = ctx.clock.NowDate();
  return S_OK;
}

HRESULT QueryRunner::Run(std::string_view contains, std::string_view freeText,
                         std::size_t rowLimit, ResultSet& out, bool& ranFreeText,
                         std::string& error) {
  ix::QueryOptions options;
  options.maxRows = rowLimit;
  options.unreadColumns = unreadColumns_;
  ranFreeText = false;
  HRESULT hr = exec_.Execute(contains, options, out, error);
  if (hr == ix::QUERY_E_ALLNOISE && !freeText.empty()) {
    ranFreeText = true;
    hr = exec_.Execute(freeText, options, out, error);
  }
  return hr;
}

HRESULT RunSearch(const SearchRequest& request, const ComposeEnvironment& env,
                  ix::QueryExecutor& exec, const ScoringContext& scoring, SearchResult& result) {
  result = SearchResult{};
  std::string contains, freeText;
  Messages containsMessages, freeTextMessages;
  HRESULT hr = ComposeCatalogQuery(request.queryText, request.searchKeyMode, &request.params,
                                   false, env, contains, containsMessages);
  const bool empty = IsBlankText(request.queryText);
  if (Succeeded(hr) && !empty) {
    hr = ComposeCatalogQuery(request.queryText, request.searchKeyMode, &request.params, true, env,
                             freeText, freeTextMessages);
  }
  if (Failed(hr)) {
    result.messages = containsMessages;
    result.messages.insert(result.messages.end(), freeTextMessages.begin(),
                           freeTextMessages.end());
    return hr;
  }
  const std::size_t limit = empty ? kEmptyQueryRowLimit : 0;
  QueryRunner runner(exec, request.unreadFields & ~kScoringFields);
  hr = runner.Run(contains, freeText, limit, result.rows, result.ranFreeText, result.detail);
  result.sql = result.ranFreeText ? freeText : contains;
  result.messages = result.ranFreeText ? freeTextMessages : containsMessages;
  // Both forms held only wildcards and punctuation, which every catalog ignores.
  if (hr == ix::QUERY_E_ALLNOISE) result.messages.push_back(kMsgNothingToSearch);
  if (Failed(hr)) return hr;
  if (result.rows.empty()) {
    result.information.push_back(request.searchKeyMode ? kMsgNoResultsForKeys : kMsgNoResults);
    return hr;
  }
  if (IsActivationOrder(request.params.sortOrder) && scoring.activation) {
    result.scores.Start(result.rows, env.userScope, scoring.partialMatch, *scoring.activation,
                        scoring.cancelled);
    result.scored = true;
  }
  return hr;
}

}  // namespace qv::client
