// The ranking service's callers hand in a folder and a store list. Any bytes: no crash; a
// folder accepted is canonical and inside the home or the data root, never longer than the
// limit; every store accepted is the %x form of a non-zero 32-bit number.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"
#include "service/QvRankingSvc/caller_folders.h"

// A name made of dots and more ("..v") is an ordinary name; only "." and ".." are not.
static bool HasDotComponent(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    if (name == "." || name == "..") return true;
    start = end + 1;
  }
  return false;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace svc = qv::service;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  // The folder, a line feed, then the store list.
  const std::size_t nl = all.find('\n');
  const std::string_view dir = all.substr(0, nl);
  const std::string_view stores = nl == std::string_view::npos ? std::string_view() : all.substr(nl + 1);

  std::string out;
  if (svc::CheckCallerFolder(dir, "/h", "/h/.local/qv", out) == qv::S_OK) {
    if (out.empty() || out.front() != '/' || HasDotComponent(out) ||
        out.find("//") != std::string::npos ||
        qv::Utf8ToUtf16(out).size() > svc::kMaxRequestFolderChars ||
        (out != "/h" && out.rfind("/h/", 0) != 0)) {
      std::abort();
    }
  }
  std::vector<std::string> names;
  if (svc::ParseStoreList(stores, names) == qv::S_OK) {
    for (const auto& n : names) {
      const unsigned long v = std::strtoul(n.c_str(), nullptr, 16);
      char again[16];
      std::snprintf(again, sizeof again, "%lx", v);
      if (n.empty() || v == 0 || v > 0xFFFFFFFFul || n != again) std::abort();
    }
  }
  return 0;
}
