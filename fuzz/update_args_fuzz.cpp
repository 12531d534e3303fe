// Reads arbitrary bytes as QvUpdate's arguments (NUL separates them, as in an argument
// vector). Whatever the reader accepts must be a usable update, and writing it back the way
// the ranking service writes a job must read as the same update.
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/QvUpdate/update_args.h"

namespace {

std::string Hex(std::uint32_t v) {
  char buf[8];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, 16).ptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::update;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args;
  for (;;) {
    const std::size_t nul = text.find('\0');
    args.push_back(text.substr(0, nul));
    if (nul == std::string_view::npos) break;
    text.remove_prefix(nul + 1);
  }
  UpdateArgs a;
  if (ParseUpdateArgs(args, a) != qv::S_OK) return 0;
  if (a.file.empty() || a.retry == 0 || a.start == 0.0 || a.finish == 0.0 ||
      !qv::IsValidDate(a.start) || !qv::IsValidDate(a.finish)) {
    __builtin_trap();
  }
  const auto bits = [](double d) { return std::bit_cast<std::uint64_t>(d); };
  std::vector<std::string> again{"QvUpdate", "\"" + a.file + "\"", Hex(a.units), Hex(a.visits),
                                 Hex(static_cast<std::uint32_t>(bits(a.start) >> 32)),
                                 Hex(static_cast<std::uint32_t>(bits(a.start))),
                                 Hex(static_cast<std::uint32_t>(bits(a.finish) >> 32)),
                                 Hex(static_cast<std::uint32_t>(bits(a.finish))),
                                 Hex(a.workingTime), Hex(a.activeTime), Hex(a.scope),
                                 Hex(a.retry)};
  if (a.searchKey) again.push_back("\"" + *a.searchKey + "\"");
  std::vector<std::string_view> views(again.begin(), again.end());
  UpdateArgs back;
  if (ParseUpdateArgs(views, back) != qv::S_OK || !(back == a)) __builtin_trap();
  return 0;
}
