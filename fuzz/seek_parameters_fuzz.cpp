// Feeds arbitrary "/q" parameter strings to QvSeek's command line, and arbitrary query texts
// escaped the way the shell escapes them: nothing crashes, and an escaped query comes back
// whole (up to an escaped NUL) without changing any other key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "client/command_line.h"

namespace {

std::string Escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args = {"/q", bytes};
  const auto raw = qv::client::ParseStartupCommand(args);
  if (raw.kind != qv::client::StartupKind::EmptySearch && !raw.params.usable) std::abort();
  if (raw.params.query.find('\0') != std::string::npos) std::abort();

  const std::string params = "&ct=Files&q=" + Escape(bytes) + "&exn=1";
  args[1] = params;
  const auto c = qv::client::ParseStartupCommand(args);
  const std::string expected(bytes.substr(0, bytes.find('\0')));
  if (c.kind != qv::client::StartupKind::Search || c.params.query != expected) std::abort();
  if (c.params.journal || c.params.searchKeyMode || c.params.includeSystemFolders ||
      c.params.searchWebHistory || c.params.searchEmail || !c.params.searchFiles ||
      !c.params.visitedOnly) {
    std::abort();
  }
  return 0;
}
