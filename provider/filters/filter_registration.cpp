#include "provider/filters/filter_registration.h"

#include <unistd.h>

#include "platform/indexing/filter.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/mail_proxy_client.h"
#include "provider/filters/journal_filters.h"
#include "provider/filters/web_page_filter.h"
#include "provider/journal/journal.h"
#include "provider/ranking/ranking.h"

namespace qv::filters {

using namespace platform;

namespace {

struct FilterClass {
  Guid clsid;
  std::string_view name;  // the class, for its ProgIDs
  std::string_view description;
  std::string_view extension;  // empty: not a filter
  std::string_view fileType;
  std::string_view threading;
};

constexpr FilterClass kClasses[] = {
    {CLSID_JournalIFilter, "JournalIFilter", "Quillon Vesper Journal Shortcut IFilter", ".q6j",
     "Quillon Vesper Journal Shortcut", "Both"},
    {CLSID_KivJournalDatIFilter, "KivJournalDatIFilter",
     "Quillon Vesper Journal Data File IFilter", ".q6d", "Quillon Vesper Journal Data File",
     "Both"},
    {CLSID_KivFilter, "KivFilter", "Quillon Vesper Web Page Shortcut IFilter", ".q6w",
     "Quillon Vesper Web Page Shortcut", "Both"},
    {CLSID_EmailIFilter, "EmailIFilter", "Quillon Vesper Email Shortcut IFilter", ".q6e",
     "Quillon Vesper Email Shortcut", "Both"},
    {CLSID_KivMetadataHandler, "KivMetadataHandler", "Quillon Vesper Ranking Data", "", "",
     "Apartment"},
};

HRESULT SetSz(Registry& reg, const std::string& key, std::string_view name,
              std::string_view value) {
  return HresultFromWin32(
      reg.SetValue(Hive::ClassesRoot, key, std::string(name), RegValue::Sz(std::string(value))));
}

}  // namespace

HRESULT KivMetadataHandler::GetClassID(Guid& out) const {
  out = ranking::kRankingFmtid;
  return S_OK;
}

void RegisterFilterClasses(const Context& ctx, std::shared_ptr<const MailProxyTable> proxies) {
  for (const auto& c : kClasses) {
    const std::string progId = "Pelion." + std::string(c.name);
    ClassRegistry::Factory factory;
    if (c.clsid == CLSID_JournalIFilter) {
      factory = [&ctx](std::shared_ptr<ComObject>& out) {
        out = std::make_shared<JournalIFilter>(ctx);
        return S_OK;
      };
    } else if (c.clsid == CLSID_KivJournalDatIFilter) {
      factory = [](std::shared_ptr<ComObject>& out) {
        out = std::make_shared<KivJournalDatIFilter>();
        return S_OK;
      };
    } else if (c.clsid == CLSID_KivFilter) {
      factory = [&ctx](std::shared_ptr<ComObject>& out) {
        out = std::make_shared<KivFilter>(ctx);
        return S_OK;
      };
    } else if (c.clsid == CLSID_EmailIFilter) {
      factory = [&ctx, proxies](std::shared_ptr<ComObject>& out) {
        out = std::make_shared<EmailIFilter>(ctx, proxies);
        return S_OK;
      };
    } else {
      factory = [](std::shared_ptr<ComObject>& out) {
        out = std::make_shared<KivMetadataHandler>();
        return S_OK;
      };
    }
    ctx.classes.Register(c.clsid, progId + ".1", progId, std::move(factory));
  }
}

HRESULT RegisterFilterExtensions(Registry& registry) {
  for (const auto& c : kClasses) {
    const std::string key = "CLSID\\" + FormatGuid(c.clsid);
    HRESULT hr = SetSz(registry, key, "", c.description);
    if (Succeeded(hr)) hr = SetSz(registry, key + "\\InprocServer32", "ThreadingModel", c.threading);
    if (Failed(hr)) return hr;
    if (c.extension.empty()) continue;
    hr = SetSz(registry, key + "\\PersistentAddinsRegistered\\" + FormatGuid(kFilterInterfaceId),
               "", FormatGuid(c.clsid));
    if (Succeeded(hr)) hr = SetSz(registry, std::string(c.extension), "", c.fileType);
    if (Succeeded(hr)) {
      hr = SetSz(registry, std::string(c.extension) + "\\PersistentHandler", "",
                 FormatGuid(c.clsid));
    }
    if (Failed(hr)) return hr;
  }
  return S_OK;
}

HRESULT RegisterIndexingFilters(const Context& ctx) {
  journal::RegisterJournalClass(ctx.classes, ctx, nullptr);
  // The e-mail filter finds the mail proxy in the session's running object table; without a
  // table it finds none and leaves mail shortcuts for a later pass.
  std::shared_ptr<const MailProxyTable> proxies;
  if (std::filesystem::path folder; Succeeded(platform::SessionRunningObjectsFolder(folder))) {
    proxies = std::make_shared<SessionMailProxyTable>(
        std::make_shared<platform::RunningObjects>(
            platform::RunningObjectsOptions{folder, ::getuid(), {}}),
        ctx.clock);
  }
  RegisterFilterClasses(ctx, std::move(proxies));
  return RegisterFilterExtensions(ctx.registry);
}

}  // namespace qv::filters
