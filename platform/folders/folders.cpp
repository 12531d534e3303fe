#include "platform/folders/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qv::platform {
namespace {
std::filesystem::path Home() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}
}  // namespace

std::filesystem::path DefaultRoot() {
  if (const char* r = std::getenv("QV_ROOT"); r && *r) return r;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
    return std::filesystem::path(x) / "quillon-vesper";
  }
  return Home() / ".local" / "share" / "quillon-vesper";
}

std::filesystem::path KnownFolderPath(const std::filesystem::path& root, KnownFolder f) {
  switch (f) {
    case KnownFolder::LocalAppData: return root / "LocalAppData";
    case KnownFolder::AppData: return root / "AppData";
    case KnownFolder::CommonAppData: return root / "CommonAppData";
    case KnownFolder::InternetCache: return root / "InternetCache";
    case KnownFolder::Recent: {
      if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return x;
      return Home() / ".local" / "share";  // recently-used.xbel lives here
    }
    case KnownFolder::Personal: return Home();
  }
  return root;
}

}  // namespace qv::platform
