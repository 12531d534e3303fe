#include "browser/addon/accepted_url.h"

#include "common/utf.h"

namespace qv::browser {
namespace {

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

bool IsAcceptedUrl(std::string_view url) {
  return !url.empty() && url.front() != ':' && !StartsNoCase(url, "https") &&
         !StartsNoCase(url, "about:blank");
}

bool IsHttpsUrl(std::string_view url) { return StartsNoCase(url, "https:"); }

}  // namespace qv::browser
