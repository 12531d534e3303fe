#include "platform/urlcache/url_download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "common/utf.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/url.h"

namespace qv::platform {
namespace {

constexpr std::size_t kDataPiece = 16 * 1024;

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeBase64(std::string_view in, std::vector<std::uint8_t>& out) {
  std::uint32_t acc = 0;
  int bits = 0;
  for (unsigned char c : in) {
    if (c == '=' || c == ' ' || c == '\n' || c == '\r') continue;
    const int v = Base64Value(c);
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(acc >> bits));
    }
  }
  return true;
}

std::vector<std::uint8_t> PercentDecode(std::string_view in) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size() && Hex(in[i + 1]) >= 0 && Hex(in[i + 2]) >= 0) {
      out.push_back(static_cast<std::uint8_t>(Hex(in[i + 1]) * 16 + Hex(in[i + 2])));
      i += 2;
    } else {
      out.push_back(static_cast<std::uint8_t>(in[i]));
    }
  }
  return out;
}

}  // namespace

HRESULT DataUrlFetcher::Fetch(std::string_view url, const PieceSink& sink,
                              std::string& contentType) {
  std::string scheme;
  if (Failed(GetUrlScheme(url, scheme)) || scheme != "data") return E_INVALIDARG;
  const std::string_view rest = WithoutFragment(url).substr(5);
  const auto comma = rest.find(',');
  if (comma == std::string_view::npos) return INET_E_RESOURCE_NOT_FOUND;
  std::string_view meta = rest.substr(0, comma);
  const bool base64 = meta.size() >= 7 && EqualsNoCase(meta.substr(meta.size() - 7), ";base64");
  if (base64) meta.remove_suffix(7);
  contentType = meta.empty() ? "text/plain;charset=US-ASCII" : std::string(meta);
  std::vector<std::uint8_t> bytes;
  if (base64) {
    if (!DecodeBase64(rest.substr(comma + 1), bytes)) return INET_E_RESOURCE_NOT_FOUND;
  } else {
    bytes = PercentDecode(rest.substr(comma + 1));
  }
  for (std::size_t pos = 0; pos < bytes.size(); pos += kDataPiece) {
    const std::span<const std::uint8_t> piece(bytes.data() + pos,
                                              std::min(kDataPiece, bytes.size() - pos));
    if (const HRESULT hr = sink(piece); Failed(hr)) return hr;
  }
  return S_OK;
}

std::shared_ptr<ProtocolHandlers> ProtocolHandlers::Default() {
  auto h = std::make_shared<ProtocolHandlers>();
  h->Register("data", std::make_shared<DataUrlFetcher>());
  return h;
}

void ProtocolHandlers::Register(std::string_view scheme, std::shared_ptr<ProtocolFetcher> f) {
  fetchers_[AsciiLower(scheme)] = std::move(f);
}

std::shared_ptr<ProtocolFetcher> ProtocolHandlers::Find(std::string_view scheme) const {
  const auto it = fetchers_.find(AsciiLower(scheme));
  return it == fetchers_.end() ? nullptr : it->second;
}

HRESULT DownloadToCacheFile(UrlCache& cache, const ProtocolHandlers& handlers,
                            std::string_view url, const ProgressCheck& progress,
                            std::filesystem::path& file) {
  file.clear();
  std::string scheme;
  if (const HRESULT hr = GetUrlScheme(url, scheme); Failed(hr)) return hr;
  const auto fetcher = handlers.Find(scheme);
  if (!fetcher) return INET_E_UNKNOWN_PROTOCOL;
  if (const HRESULT hr = progress(); Failed(hr)) return hr;

  std::filesystem::path copy;
  if (const auto err = cache.CreateEntryFile(url, "htm", copy); err != 0) {
    return HresultFromWin32(err);
  }
  auto discard = [&](HRESULT hr) {
    std::error_code ec;
    std::filesystem::remove(copy, ec);
    return hr;
  };
  Fd fd(::open(copy.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!fd) return discard(HresultFromErrno(errno));
  std::string contentType;
  const HRESULT fetched = fetcher->Fetch(
      url,
      [&](std::span<const std::uint8_t> piece) -> HRESULT {
        std::size_t done = 0;
        while (done < piece.size()) {
          const ssize_t n = ::write(fd.get(), piece.data() + done, piece.size() - done);
          if (n < 0) {
            if (errno == EINTR) continue;
            return HresultFromErrno(errno);
          }
          done += static_cast<std::size_t>(n);
        }
        return progress();
      },
      contentType);
  if (Failed(fetched)) return discard(fetched);
  if (::fsync(fd.get()) != 0) return discard(HresultFromErrno(errno));
  fd = Fd();

  CommitOptions options;
  options.headers = "HTTP/1.1 200 OK\r\n";
  if (!contentType.empty()) options.headers += "Content-Type: " + contentType + "\r\n";
  options.headers += "\r\n";
  if (const auto err = cache.CommitEntry(url, copy, options); err != 0) {
    return discard(HresultFromWin32(err));
  }
  file = copy;
  return S_OK;
}

}  // namespace qv::platform
