#pragma once
// The browser prerequisite: version 5.5 or later, read from a "major.minor..." string.
#include <string_view>

#include "common/hresult.h"

namespace qv::manager {

// S_OK when `version` is at least 5.5; E_UNEXPECTED for an older or unreadable version. The
// major version is every digit before the first dot, so 10.0 is newer than 5.5.
HRESULT CheckBrowserVersion(std::string_view version);

}  // namespace qv::manager
