#pragma once
// The provider's filters as classes and as registrations by file extension, so that the
// catalog engine reads journal entries, visited pages and mail items through them; and the
// ranking metadata class, the registered owner of the ranking property set's class id.
#include <memory>

#include "context/context.h"
#include "platform/registry/registry.h"
#include "provider/filters/email_filter.h"

namespace qv::filters {

// Answers GetClassID with the ranking set's class identifier; nothing else is implemented.
class KivMetadataHandler final : public platform::ComObject {
 public:
  HRESULT GetClassID(Guid& out) const;
  HRESULT Load(const std::filesystem::path&) { return E_NOTIMPL; }
  HRESULT Save(const std::filesystem::path&) { return E_NOTIMPL; }
  HRESULT IsDirty() const { return E_NOTIMPL; }
};

// The five classes in the class registry. `proxies` is how the mail filter finds the mail
// proxies of the session (null: none is ever found).
void RegisterFilterClasses(const Context& ctx,
                           std::shared_ptr<const MailProxyTable> proxies = nullptr);
// The classes' entries under HKEY_CLASSES_ROOT: each CLSID with its description and
// threading model, each filter listed under the filter interface, and each extension given
// its filter as persistent handler.
HRESULT RegisterFilterExtensions(platform::Registry& registry);
// What a process that runs the indexer needs: the journal class the entry filter reads
// through, the filter classes and their registrations.
HRESULT RegisterIndexingFilters(const Context& ctx);

}  // namespace qv::filters
