#pragma once
// The add-in's binding to the visit interface of libQvHooks.so: the library is loaded by path
// (the folder of the event source's message file) and its four entry points bound by name.
// Unbound, every call answers E_UNEXPECTED and does nothing, so the mail client runs on
// unaffected.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "platform/registry/registry.h"

namespace qv::mail::addin {

struct VisitEntryPoints {
  using VisitFn = std::int32_t (*)(std::uint64_t, const char16_t*, std::uint32_t);
  VisitFn start = nullptr;
  VisitFn update = nullptr;
  VisitFn end = nullptr;
  std::int32_t (*isRunning)() = nullptr;
  bool complete() const { return start && update && end && isRunning; }
};

class VisitBinding {
 public:
  // Unbound.
  VisitBinding();
  // Bound to entry points in this process (all four, or it stays unbound).
  explicit VisitBinding(VisitEntryPoints points);
  ~VisitBinding();
  VisitBinding(VisitBinding&&) noexcept;
  VisitBinding& operator=(VisitBinding&&) noexcept;

  // The library's path: the event source's EventMessageFile value with its file name
  // replaced by the library's. ERROR_FILE_NOT_FOUND's HRESULT when the value is missing.
  static HRESULT LibraryPath(const platform::Registry& registry, std::filesystem::path& out);
  // Loads the library at `path` and binds all four entry points; on any failure `out` stays
  // unbound and the failure is returned.
  static HRESULT Load(const std::filesystem::path& path, VisitBinding& out);

  bool bound() const { return points_.complete(); }

  // The item is UTF-8 here and UTF-16 for the library; null items pass as null.
  HRESULT Start(std::uint64_t window, std::string_view item, std::uint32_t flags) const;
  HRESULT Update(std::uint64_t window, std::string_view item, std::uint32_t flags) const;
  HRESULT End(std::uint64_t window, std::uint32_t flags) const;  // no item
  HRESULT IsRunning() const;

 private:
  struct Library;
  std::unique_ptr<Library> library_;  // keeps the entry points' code loaded
  VisitEntryPoints points_;
};

}  // namespace qv::mail::addin
