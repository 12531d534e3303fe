#include "mail/QvOutlookAddIn/compressed_rtf.h"

#include <array>
#include <string_view>

namespace qv::mail::addin {
namespace {

constexpr std::uint32_t kCompressed = 0x75465A4C;    // "LZFu"
constexpr std::uint32_t kUncompressed = 0x414C454D;  // "MELA"
constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kDictionaryBytes = 4096;

constexpr std::string_view kPrologue =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kPrologue.size() == 207);

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

HRESULT DecompressRtf(std::span<const std::uint8_t> bytes, std::string& out) {
  out.clear();
  const std::string_view asText(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (asText.starts_with("{\\rtf")) {
    if (bytes.size() > kMaxRtfBytes) return STG_E_DOCFILECORRUPT;
    out.assign(asText);
    return S_OK;
  }
  if (bytes.size() < kHeaderBytes) return STG_E_INVALIDHEADER;
  const std::uint32_t compSize = U32(bytes, 0);
  const std::uint32_t rawSize = U32(bytes, 4);
  const std::uint32_t type = U32(bytes, 8);
  if (type != kCompressed && type != kUncompressed) return STG_E_INVALIDHEADER;
  if (rawSize > kMaxRtfBytes) return STG_E_DOCFILECORRUPT;
  // The compressed size counts everything after its own field; never read past the bytes.
  const std::size_t end = std::min<std::size_t>(bytes.size(), std::size_t{compSize} + 4);
  if (end < kHeaderBytes) return STG_E_DOCFILECORRUPT;
  const auto data = bytes.subspan(kHeaderBytes, end - kHeaderBytes);

  if (type == kUncompressed) {
    if (data.size() < rawSize) return STG_E_DOCFILECORRUPT;
    out.assign(reinterpret_cast<const char*>(data.data()), rawSize);
    return S_OK;
  }

  std::array<char, kDictionaryBytes> dict{};
  std::copy(kPrologue.begin(), kPrologue.end(), dict.begin());
  std::size_t write = kPrologue.size();
  std::size_t at = 0;
  out.reserve(rawSize);
  auto emit = [&](char c) {
    out.push_back(c);
    dict[write] = c;
    write = (write + 1) % kDictionaryBytes;
  };
  while (at < data.size()) {
    const std::uint8_t control = data[at++];
    for (int bit = 0; bit < 8; ++bit) {
      if (out.size() > rawSize) return STG_E_DOCFILECORRUPT;
      if ((control & (1u << bit)) == 0) {
        if (at >= data.size()) return STG_E_DOCFILECORRUPT;
        emit(static_cast<char>(data[at++]));
        continue;
      }
      if (at + 2 > data.size()) return STG_E_DOCFILECORRUPT;
      const unsigned token = static_cast<unsigned>(data[at]) << 8 | data[at + 1];
      at += 2;
      const std::size_t offset = token >> 4;
      const std::size_t length = (token & 0xF) + 2;
      if (offset == write) {  // the end marker
        if (out.size() != rawSize) return STG_E_DOCFILECORRUPT;
        return S_OK;
      }
      for (std::size_t i = 0; i < length; ++i) emit(dict[(offset + i) % kDictionaryBytes]);
    }
  }
  return STG_E_DOCFILECORRUPT;  // no end marker
}

}  // namespace qv::mail::addin
