// Reads arbitrary text as the frame data of a web visit, which any process of the user can
// send with a visit: five fields a record, each ended by a line feed. Every record read must
// be whole, and written back the same way it must read the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "provider/urlmon/kiv_urlmon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::urlmon;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<FrameRecord> records = ParseFrameData(text);
  if (records.size() > size / 5) __builtin_trap();
  std::string again;
  for (const FrameRecord& r : records) {
    for (std::string_view field : {std::string_view(r.url), std::string_view(r.contentType),
                                   std::string_view(r.charset)}) {
      if (field.find('\n') != std::string_view::npos) __builtin_trap();
      again += field;
      again += '\n';
    }
    again += r.robots ? "1\n" : "\n";
    again += r.frames ? "1\n" : "\n";
  }
  const std::vector<FrameRecord> reread = ParseFrameData(again);
  if (reread.size() != records.size()) __builtin_trap();
  for (std::size_t i = 0; i < records.size(); ++i) {
    const FrameRecord& a = records[i];
    const FrameRecord& b = reread[i];
    if (a.url != b.url || a.contentType != b.contentType || a.charset != b.charset ||
        a.robots != b.robots || a.frames != b.frames) {
      __builtin_trap();
    }
  }
  return 0;
}
