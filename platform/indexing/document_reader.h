#pragma once
// Reading one document for the index: the filter chosen by the file's extension (through the
// registered persistent handler), its text and values, and the cached properties kept in the
// file's property sets (extended attributes user.quillon.{FMTID}).
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/com/class_registry.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/catalog_keys.h"
#include "platform/indexing/filter.h"
#include "platform/indexing/filter_host.h"
#include "platform/registry/registry.h"

namespace qv::platform::indexing {

// The text of one document is cut at this size; the index need not hold more.
inline constexpr std::size_t kMaxDocumentText = 16u << 20;

class DocumentReader {
 public:
  DocumentReader(const Registry& registry, const ClassRegistry& classes,
                 std::vector<CachedProperty> props);

  // S_OK with a filter; S_FALSE when the file has none (only its properties are indexed).
  HRESULT FindFilter(const std::filesystem::path& file, std::shared_ptr<Filter>& out);
  // Documents of binary formats go to this host (none: they get their properties only).
  void UseFilterHost(std::shared_ptr<FilterHost> host) { host_ = std::move(host); }
  // What the filter host said about the last document it lost; empty otherwise.
  std::string HostProblem() const { return host_ ? host_->lastProblem() : std::string(); }
  // Filters the file and reads its property sets. A filter failure is returned (the
  // document is then kept with its properties only).
  HRESULT Read(const std::filesystem::path& file, DocContent& out);
  // Only the cached properties from the file's property sets.
  void ReadPropertySets(const std::filesystem::path& file, DocContent& out) const;

 private:
  HRESULT RunFilter(Filter& filter, DocContent& out) const;
  void AddDocumentText(DocumentText& text, DocContent& out) const;
  void AddValue(const FullPropSpec& spec, const PropVariant& v, DocContent& out) const;

  const Registry& registry_;
  const ClassRegistry& classes_;
  std::vector<CachedProperty> props_;
  std::map<std::string, std::optional<Guid>> filterByExtension_;
  std::shared_ptr<FilterHost> host_;
};

// The filter registered for a file extension (".htm"): the extension's persistent handler
// names the filter class. E_FAIL when the extension has no registration.
HRESULT FilterForExtension(const Registry& registry, const ClassRegistry& classes,
                           std::string_view extension, std::shared_ptr<Filter>& out);

// Runs a filter over everything it yields; for fuzzing and tests.
HRESULT DrainFilter(Filter& filter, std::string& text, std::string& title);

}  // namespace qv::platform::indexing
