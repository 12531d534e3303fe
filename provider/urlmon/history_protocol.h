#pragma once
// The "history" protocol: serves the stored copy of a page part under its history URL, from
// the URL cache and without going to the network. The served page keeps its own site as
// base and security origin, and links between the frames of one stored page stay inside the
// history.
#include <filesystem>
#include <optional>
#include <string>

#include "context/context.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/pluggable_protocol.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/shortcut_file.h"

namespace qv::urlmon {

inline constexpr Guid CLSID_KivHistoryApp =
    MakeGuid(0xBB136564, 0x5C02, 0x42ED, 0x9B, 0x46, 0x70, 0xED, 0x23, 0x43, 0x81, 0x6E);
inline constexpr std::string_view kHistoryAppDescription =
    "Quillon Vesper WebHistory Pluggable Protocol";
inline constexpr std::string_view kProtocolHandlerKey = "PROTOCOLS\\Handler\\history";
inline constexpr std::uint32_t kStatusBadUrl = 500;
inline constexpr std::uint32_t kStatusNotFound = 404;

// A history URL with the shortcut and the part it names.
struct ResolvedHistoryUrl {
  HistoryUrl url;
  std::filesystem::path file;
  Shortcut shortcut;
  std::size_t part = 0;
  std::string canonical;  // names the chosen part by its stored URL when "?url=" was given
  const PagePart& Part() const { return shortcut.parts[part]; }
  std::string RealUrl() const;  // the chosen part's page URL (unwrapped)
};

// INET_E_INVALID_URL for a malformed URL; INET_E_DATA_NOT_AVAILABLE when the shortcut cannot
// be read or has no parts; INET_E_INVALID_REQUEST when "?url=" names no part of it (compared
// with each part's page URL, a trailing slash ignored).
HRESULT ResolveHistoryUrl(const std::filesystem::path& qvRoot, std::string_view url,
                          ResolvedHistoryUrl& out);

class KivHistoryApp final : public platform::IInternetProtocol,
                            public platform::IInternetProtocolInfo,
                            public platform::IWinInetHttpInfo {
 public:
  explicit KivHistoryApp(const Context& ctx) : ctx_(ctx) {}

  HRESULT Start(std::string_view url, platform::IInternetProtocolSink* sink,
                std::uint32_t flags) override;
  HRESULT Continue(std::uint32_t data) override;
  HRESULT Abort(HRESULT reason, std::uint32_t options) override;
  HRESULT Terminate(std::uint32_t options) override;
  HRESULT Suspend() override;
  HRESULT Resume() override;
  HRESULT Read(std::span<std::uint8_t> buffer, std::uint32_t& read) override;
  HRESULT Seek(std::int64_t move, std::uint32_t origin, std::uint64_t& newPosition) override;
  HRESULT LockRequest(std::uint32_t options) override;
  HRESULT UnlockRequest() override;

  HRESULT ParseUrl(std::string_view url, platform::ParseAction action, std::string& out) override;
  HRESULT CombineUrl(std::string_view base, std::string_view relative, std::string& out) override;
  HRESULT CompareUrl(std::string_view a, std::string_view b) override;

  HRESULT QueryInfo(std::uint32_t option, std::string& out) override;

 private:
  HRESULT Run();

  const Context& ctx_;
  std::string url_;
  platform::IInternetProtocolSink* sink_ = nullptr;
  std::optional<ResolvedHistoryUrl> resolved_;
  std::string headers_;
  platform::Fd copy_;
};

}  // namespace qv::urlmon
