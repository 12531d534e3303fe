#include "manager/runtime/browser_version.h"

namespace qv::manager {

HRESULT CheckBrowserVersion(std::string_view version) {
  if (version.size() <= 2) return E_UNEXPECTED;
  unsigned major = 0;
  std::size_t i = 0;
  for (; i < version.size() && version[i] >= '0' && version[i] <= '9' && i < 4; ++i) {
    major = major * 10 + static_cast<unsigned>(version[i] - '0');
  }
  if (i == 0 || i >= version.size() || version[i] != '.') return E_UNEXPECTED;
  if (i + 1 >= version.size() || version[i + 1] < '0' || version[i + 1] > '9') return E_UNEXPECTED;
  const unsigned minor = static_cast<unsigned>(version[i + 1] - '0');
  if (major < 5) return E_UNEXPECTED;
  if (major == 5 && minor < 5) return E_UNEXPECTED;
  return S_OK;
}

}  // namespace qv::manager
