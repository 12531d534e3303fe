#include "service/QvUpdate/update_args.h"

#include <bit>

#include "common/utf.h"

namespace qv::update {

std::optional<std::uint32_t> ParseHexArg(std::string_view arg) {
  // More digits than fit would otherwise be cut silently, and a "0x" of the caller's own
  // would be a second prefix: both are refused.
  if (arg.empty() || arg.size() > kMaxHexDigits) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : arg) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return v;
}

std::optional<std::string> ParseNameArg(std::string_view arg) {
  // Only a real pair is stripped: a name that merely starts with a quote keeps its ends.
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') {
    arg = arg.substr(1, arg.size() - 2);
  }
  const std::size_t chars = Utf8ToUtf16Escaped(arg).size();
  if (chars < 1 || chars >= kMaxNameChars) return std::nullopt;
  return std::string(arg);
}

std::optional<DATE> DateFromHalves(std::uint32_t high, std::uint32_t low) {
  const DATE d = std::bit_cast<DATE>(static_cast<std::uint64_t>(high) << 32 | low);
  if (d == 0.0 || !IsValidDate(d)) return std::nullopt;
  return d;
}

HRESULT ParseUpdateArgs(std::span<const std::string_view> args, UpdateArgs& out) {
  if (args.size() < kMinArgs) return E_INVALIDARG;
  UpdateArgs a;
  auto file = ParseNameArg(args[1]);
  if (!file) return E_INVALIDARG;
  a.file = std::move(*file);

  std::uint32_t n[10];
  for (std::size_t i = 0; i < 10; ++i) {
    auto v = ParseHexArg(args[2 + i]);
    if (!v) return E_INVALIDARG;
    n[i] = *v;
  }
  const auto start = DateFromHalves(n[2], n[3]);
  const auto finish = DateFromHalves(n[4], n[5]);
  if (!start || !finish) return E_INVALIDARG;
  a.units = n[0];
  a.visits = n[1];
  a.start = *start;
  a.finish = *finish;
  a.workingTime = n[6];
  a.activeTime = n[7];
  a.scope = n[8];
  a.retry = n[9];
  if (a.retry == 0) return E_INVALIDARG;

  if (args.size() > kSearchKeyArg) {
    auto key = ParseNameArg(args[kSearchKeyArg]);
    if (!key) return E_INVALIDARG;
    a.searchKey = std::move(*key);
  }
  out = std::move(a);
  return S_OK;
}

}  // namespace qv::update
