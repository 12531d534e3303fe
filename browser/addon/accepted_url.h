#pragma once
// Which pages the add-on reports: not empty, not starting with ':', not secure ("https", five
// characters without case) and not the blank page ("about:blank", eleven without case).
#include <string_view>

namespace qv::browser {

bool IsAcceptedUrl(std::string_view url);
// Whether the URL's scheme is https (its own word, unlike the prefix test above).
bool IsHttpsUrl(std::string_view url);

}  // namespace qv::browser
