// Reads arbitrary bytes as a web page shortcut file and as a bare Contents stream. What
// parses must write back: the Contents stream to the very same bytes, a whole file to one
// that reads back to the same shortcut.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "provider/urlmon/shortcut_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::urlmon;
  const std::span<const std::uint8_t> bytes(data, size);

  std::vector<PagePart> parts;
  if (qv::Succeeded(ParseContents(bytes, parts))) {
    if (SerializeContents(parts) != std::vector<std::uint8_t>(bytes.begin(), bytes.end())) {
      std::abort();
    }
  }

  Shortcut first;
  if (qv::Failed(ParseShortcut(bytes, first))) return 0;
  Shortcut second;
  if (qv::Failed(ParseShortcut(SerializeShortcut(first), second))) std::abort();
  if (second.parts != first.parts || second.zone != first.zone) std::abort();
  Shortcut third;
  if (qv::Failed(ParseShortcut(SerializeShortcut(second), third)) || !(third == second)) {
    std::abort();
  }
  return 0;
}
