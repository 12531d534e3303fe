#pragma once
// QvSeek --print answered by a running print server ("QvSeek --serve"), which keeps the
// catalogs, their property caches and the exclusion memo warm between searches. The two
// talk over a stream socket in the user's runtime folder, one request and one reply per
// connection. Each message is a frame: a 4-byte little-endian length n, then n bytes.
//
// The server sends one byte, kPrintAccepted, as soon as it has read a request it will answer,
// before the reply's frame: a client that does not get it quickly (a server busy with another
// search, or stuck) searches itself.
//
//   request (n <= kMaxPrintRequest)        reply (n <= kMaxPrintReply)
//   0  4  magic "QVSQ"                     0  4  magic "QVSR"
//   4  4  number of settings s (<= 64)     4  1  1 served, 0 declined (run it yourself)
//   8  4  number of arguments a (<= 4096)  5  4  exit code (int32)
//   12    root, s settings, a arguments    9     standard output, standard error
//
// Every string is a 4-byte little-endian length and its bytes. A setting is NAME=VALUE, or
// NAME alone when the variable is unset. Integers are little-endian.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv::client {

inline constexpr std::size_t kMaxPrintRequest = 1 << 20;
inline constexpr std::size_t kMaxPrintReply = 256u << 20;
inline constexpr std::size_t kMaxPrintSettings = 64;
inline constexpr std::size_t kMaxPrintArguments = 4096;
inline constexpr char kPrintAccepted = 'A';

struct PrintRequest {
  std::string root;                   // the client's QV_ROOT, as the server must have it
  std::vector<std::string> settings;  // see OutputSettings
  std::vector<std::string> args;      // QvSeek's arguments, "--print" first
};

struct PrintReply {
  bool served = false;
  std::int32_t exitCode = 0;
  std::string out, err;
};

std::string EncodePrintRequest(const PrintRequest& request);
// False for anything but a whole, well-formed request within the limits.
bool DecodePrintRequest(std::span<const std::uint8_t> bytes, PrintRequest& out);
std::string EncodePrintReply(const PrintReply& reply);
bool DecodePrintReply(std::span<const std::uint8_t> bytes, PrintReply& out);

// What changes what a search prints, in a fixed order: the environment's time zone and locale,
// and which program file runs (a server left running across an upgrade is another program).
// A server serves only clients whose settings equal its own.
std::vector<std::string> OutputSettings();
// The last of those settings, for a program file.
std::string ProgramSetting(const std::filesystem::path& program);

// The socket of the print server of `root` (absolute), in the runtime folder. The name comes
// from the root, so that servers of several roots can run side by side.
std::filesystem::path PrintSocketPath(const std::filesystem::path& runtimeFolder,
                                      const std::filesystem::path& root);

// One frame on a blocking socket whose time-outs are set: false on a short read or write,
// a time-out, or a frame longer than `limit`.
bool WriteFrame(int fd, std::string_view body);
bool ReadFrame(int fd, std::size_t limit, std::string& body);

}  // namespace qv::client
