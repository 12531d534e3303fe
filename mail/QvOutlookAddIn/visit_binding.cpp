#include "mail/QvOutlookAddIn/visit_binding.h"

#include <dlfcn.h>

#include "common/utf.h"
#include "context/language_module.h"
#include "context/registry_values.h"
#include "mail/QvOutlookAddIn/addin_constants.h"

namespace qv::mail::addin {

namespace {
// The loader's answers for a library that cannot be loaded and an entry point it lacks.
constexpr std::int32_t kErrorModNotFound = 126;
constexpr std::int32_t kErrorProcNotFound = 127;
}  // namespace

struct VisitBinding::Library {
  void* handle = nullptr;
  ~Library() {
    if (handle != nullptr) ::dlclose(handle);
  }
};

VisitBinding::VisitBinding(VisitEntryPoints points) {
  if (points.complete()) points_ = points;
}

VisitBinding::VisitBinding() = default;
VisitBinding::~VisitBinding() = default;
VisitBinding::VisitBinding(VisitBinding&&) noexcept = default;
VisitBinding& VisitBinding::operator=(VisitBinding&&) noexcept = default;

HRESULT VisitBinding::LibraryPath(const platform::Registry& registry,
                                  std::filesystem::path& out) {
  const std::string messageFile = ReadString(registry, platform::Hive::LocalMachine,
                                             kEventSourceKey, kEventMessageFileValue, "");
  if (messageFile.empty()) return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  out = std::filesystem::path(messageFile).parent_path() / kHooksLibraryName;
  return S_OK;
}

HRESULT VisitBinding::Load(const std::filesystem::path& path, VisitBinding& out) {
  out = VisitBinding();
  auto library = std::make_unique<Library>();
  library->handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library->handle == nullptr) return HresultFromWin32(kErrorModNotFound);
  VisitEntryPoints points;
  points.start = reinterpret_cast<VisitEntryPoints::VisitFn>(::dlsym(library->handle, "KivVisitStart"));
  points.update = reinterpret_cast<VisitEntryPoints::VisitFn>(::dlsym(library->handle, "KivVisitUpdate"));
  points.end = reinterpret_cast<VisitEntryPoints::VisitFn>(::dlsym(library->handle, "KivVisitEnd"));
  points.isRunning = reinterpret_cast<std::int32_t (*)()>(::dlsym(library->handle, "KivIsRunning"));
  if (!points.complete()) return HresultFromWin32(kErrorProcNotFound);
  out.library_ = std::move(library);
  out.points_ = points;
  return S_OK;
}

HRESULT VisitBinding::Start(std::uint64_t window, std::string_view item,
                            std::uint32_t flags) const {
  if (!bound()) return E_UNEXPECTED;
  const std::u16string text = Utf8ToUtf16(item);
  return points_.start(window, text.c_str(), flags);
}

HRESULT VisitBinding::Update(std::uint64_t window, std::string_view item,
                             std::uint32_t flags) const {
  if (!bound()) return E_UNEXPECTED;
  const std::u16string text = Utf8ToUtf16(item);
  return points_.update(window, text.c_str(), flags);
}

HRESULT VisitBinding::End(std::uint64_t window, std::uint32_t flags) const {
  if (!bound()) return E_UNEXPECTED;
  return points_.end(window, nullptr, flags);
}

HRESULT VisitBinding::IsRunning() const {
  if (!bound()) return E_UNEXPECTED;
  return points_.isRunning();
}

}  // namespace qv::mail::addin
