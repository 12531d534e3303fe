#pragma once
// The browser's asynchronous pluggable protocol interfaces, as plain abstract classes: a
// protocol object serves the bytes of a URL of its scheme to a sink that receives progress,
// data notifications and the result; protocol information parses and combines URLs of the
// scheme; the HTTP information query answers header questions about the served response.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "platform/com/class_registry.h"

namespace qv::platform {

inline constexpr HRESULT E_PENDING = MakeHr(0x8000000A);
inline constexpr HRESULT INET_E_INVALID_URL = MakeHr(0x800C0002);
inline constexpr HRESULT INET_E_DATA_NOT_AVAILABLE = MakeHr(0x800C0007);
inline constexpr HRESULT INET_E_DOWNLOAD_FAILURE = MakeHr(0x800C0008);
inline constexpr HRESULT INET_E_INVALID_REQUEST = MakeHr(0x800C000C);
inline constexpr HRESULT INET_E_CANNOT_LOAD_DATA = MakeHr(0x800C000F);
inline constexpr HRESULT INET_E_DEFAULT_ACTION = MakeHr(0x800C0011);

// Start flags.
inline constexpr std::uint32_t PI_PARSE_URL = 0x1;
inline constexpr std::uint32_t PI_FILTER_MODE = 0x2;
inline constexpr std::uint32_t PI_FORCE_ASYNC = 0x4;

enum BindStatus : std::uint32_t {
  BINDSTATUS_FINDINGRESOURCE = 1,
  BINDSTATUS_CONNECTING = 2,
  BINDSTATUS_REDIRECTING = 3,
};

// Data notification flags.
inline constexpr std::uint32_t BSCF_FIRSTDATANOTIFICATION = 0x1;
inline constexpr std::uint32_t BSCF_INTERMEDIATEDATANOTIFICATION = 0x2;
inline constexpr std::uint32_t BSCF_LASTDATANOTIFICATION = 0x4;
inline constexpr std::uint32_t BSCF_DATAFULLYAVAILABLE = 0x8;
inline constexpr std::uint32_t BSCF_AVAILABLEDATASIZEUNKNOWN = 0x10;

enum ParseAction : std::uint32_t {
  PARSE_CANONICALIZE = 1,
  PARSE_FRIENDLY = 2,
  PARSE_SECURITY_URL = 3,
  PARSE_ROOTDOCUMENT = 4,
  PARSE_DOCUMENT = 5,
  PARSE_ANCHOR = 6,
  PARSE_ENCODE = 7,
  PARSE_DECODE = 8,
  PARSE_PATH_FROM_URL = 9,
  PARSE_URL_FROM_PATH = 10,
  PARSE_MIME = 11,
  PARSE_SERVER = 12,
  PARSE_SCHEMA = 13,
  PARSE_SITE = 14,
  PARSE_DOMAIN = 15,
  PARSE_LOCATION = 16,
  PARSE_SECURITY_DOMAIN = 17,
};

// HTTP_QUERY_* numbers of the header queries answered here.
enum HttpQuery : std::uint32_t {
  HTTP_QUERY_CONTENT_TYPE = 1,
  HTTP_QUERY_CONTENT_LENGTH = 5,
  HTTP_QUERY_EXPIRES = 10,
  HTTP_QUERY_LAST_MODIFIED = 11,
  HTTP_QUERY_PRAGMA = 17,
  HTTP_QUERY_STATUS_CODE = 19,
  HTTP_QUERY_STATUS_TEXT = 20,
  HTTP_QUERY_RAW_HEADERS_CRLF = 22,
  HTTP_QUERY_DATE = 9,
  HTTP_QUERY_CONTENT_ENCODING = 29,
  HTTP_QUERY_LOCATION = 33,
  HTTP_QUERY_CACHE_CONTROL = 49,
  HTTP_QUERY_CONTENT_BASE = 50,
  HTTP_QUERY_ETAG = 54,
  HTTP_QUERY_VARY = 70,
};

class IInternetProtocolSink {
 public:
  virtual ~IInternetProtocolSink() = default;
  // Asks to be called back on the caller's thread; the caller then calls Continue(data).
  virtual HRESULT Switch(std::uint32_t data) = 0;
  virtual HRESULT ReportProgress(BindStatus status, std::string_view text) = 0;
  virtual HRESULT ReportData(std::uint32_t flags, std::uint32_t progress,
                             std::uint32_t progressMax) = 0;
  virtual HRESULT ReportResult(HRESULT result, std::uint32_t error, std::string_view text) = 0;
};

class IInternetProtocol : public virtual ComObject {
 public:
  virtual HRESULT Start(std::string_view url, IInternetProtocolSink* sink, std::uint32_t flags) = 0;
  virtual HRESULT Continue(std::uint32_t data) = 0;
  virtual HRESULT Abort(HRESULT reason, std::uint32_t options) = 0;
  virtual HRESULT Terminate(std::uint32_t options) = 0;
  virtual HRESULT Suspend() = 0;
  virtual HRESULT Resume() = 0;
  // S_OK with bytes, S_FALSE once nothing is left.
  virtual HRESULT Read(std::span<std::uint8_t> buffer, std::uint32_t& read) = 0;
  virtual HRESULT Seek(std::int64_t move, std::uint32_t origin, std::uint64_t& newPosition) = 0;
  virtual HRESULT LockRequest(std::uint32_t options) = 0;
  virtual HRESULT UnlockRequest() = 0;
};

class IInternetProtocolInfo : public virtual ComObject {
 public:
  // INET_E_DEFAULT_ACTION: let the browser do what it does for other schemes.
  virtual HRESULT ParseUrl(std::string_view url, ParseAction action, std::string& out) = 0;
  virtual HRESULT CombineUrl(std::string_view base, std::string_view relative,
                             std::string& out) = 0;
  virtual HRESULT CompareUrl(std::string_view a, std::string_view b) = 0;
};

class IWinInetHttpInfo : public virtual ComObject {
 public:
  // The header value (or status) for an HttpQuery number; ERROR_HTTP_HEADER_NOT_FOUND as
  // its HRESULT when the response has no such header.
  virtual HRESULT QueryInfo(std::uint32_t option, std::string& out) = 0;
};

inline constexpr std::int32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;

}  // namespace qv::platform
