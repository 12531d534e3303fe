#include "provider/urlmon/private_urls.h"

#include <cstdio>

#include "common/utf.h"

namespace qv::urlmon {
namespace {

HRESULT Finish(std::string s, std::string& out) {
  if (s.size() >= kMaxWrappedUrl) return E_POINTER;
  out = std::move(s);
  return S_OK;
}

}  // namespace

bool IsPrivateUrl(std::string_view url) {
  return url.size() >= kPrivatePrefix.size() &&
         EqualsNoCase(url.substr(0, kPrivatePrefix.size()), kPrivatePrefix);
}

std::string_view UnwrapPrivateUrl(std::string_view url) {
  if (!IsPrivateUrl(url)) return url;
  const auto q = url.find('?');
  return q == std::string_view::npos ? std::string_view{} : url.substr(q + 1);
}

HRESULT VersionIndexUrl(std::string_view page, std::string& out) {
  if (IsPrivateUrl(page)) return E_INVALIDARG;
  return Finish(std::string(kPrivatePrefix) + "v?" + std::string(page), out);
}

HRESULT ContentUrl(std::string_view page, std::uint32_t byteCount, std::uint32_t contentHash,
                   std::string& out) {
  if (IsPrivateUrl(page)) return E_INVALIDARG;
  char mid[32];
  std::snprintf(mid, sizeof mid, "c/%x-%x?", byteCount, contentHash);
  return Finish(std::string(kPrivatePrefix) + mid + std::string(page), out);
}

std::vector<VersionRecord> ParseVersionIndex(std::span<const std::uint8_t> b) {
  std::vector<VersionRecord> records(b.size() / kVersionRecordSize);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::uint8_t* p = b.data() + i * kVersionRecordSize;
    auto u32 = [](const std::uint8_t* q) {
      return std::uint32_t{q[0]} | std::uint32_t{q[1]} << 8 | std::uint32_t{q[2]} << 16 |
             std::uint32_t{q[3]} << 24;
    };
    records[i].captured = std::uint64_t{u32(p)} | std::uint64_t{u32(p + 4)} << 32;
    records[i].byteCount = u32(p + 8);
    records[i].contentHash = u32(p + 12);
  }
  return records;
}

std::vector<std::uint8_t> SerializeVersionIndex(std::span<const VersionRecord> records) {
  std::vector<std::uint8_t> out;
  out.reserve(records.size() * kVersionRecordSize);
  auto put = [&](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const auto& r : records) {
    put(r.captured, 8);
    put(r.byteCount, 4);
    put(r.contentHash, 4);
  }
  return out;
}

const VersionRecord* LastRecordAtOrBefore(std::span<const VersionRecord> records, FileTime when) {
  const VersionRecord* found = nullptr;
  for (const auto& r : records) {
    if (r.captured <= when) found = &r;
  }
  return found;
}

}  // namespace qv::urlmon
