#include "client/print_protocol.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv::client {
namespace {

constexpr std::string_view kRequestMagic = "QVSQ";
constexpr std::string_view kReplyMagic = "QVSR";

// The variables a search's output depends on: dates are printed in local time, in the
// locale's short date format, and messages come in the locale's language.
constexpr const char* kOutputVariables[] = {"TZ",          "LANG",       "LANGUAGE",
                                            "LC_ALL",      "LC_CTYPE",   "LC_TIME",
                                            "LC_MESSAGES", "LC_NUMERIC", "LC_COLLATE"};

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

void PutString(std::string& out, std::string_view s) {
  PutU32(out, static_cast<std::uint32_t>(s.size()));
  out.append(s);
}

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Magic(std::string_view magic) {
    if (bytes_.size() - at_ < magic.size()) return false;
    const bool same = std::memcmp(bytes_.data() + at_, magic.data(), magic.size()) == 0;
    at_ += magic.size();
    return same;
  }
  bool U8(std::uint8_t& v) {
    if (at_ == bytes_.size()) return false;
    v = bytes_[at_++];
    return true;
  }
  bool U32(std::uint32_t& v) {
    if (bytes_.size() - at_ < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{bytes_[at_ + i]} << (8 * i);
    at_ += 4;
    return true;
  }
  bool String(std::string& s) {
    std::uint32_t n = 0;
    if (!U32(n) || bytes_.size() - at_ < n) return false;
    s.assign(reinterpret_cast<const char*>(bytes_.data() + at_), n);
    at_ += n;
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

bool WriteAll(int fd, const char* data, std::size_t n) {
  while (n) {
    const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool ReadAll(int fd, char* data, std::size_t n) {
  while (n) {
    const ssize_t r = ::recv(fd, data, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    data += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

}  // namespace

std::string EncodePrintRequest(const PrintRequest& request) {
  std::string out(kRequestMagic);
  PutU32(out, static_cast<std::uint32_t>(request.settings.size()));
  PutU32(out, static_cast<std::uint32_t>(request.args.size()));
  PutString(out, request.root);
  for (const auto& s : request.settings) PutString(out, s);
  for (const auto& a : request.args) PutString(out, a);
  return out;
}

bool DecodePrintRequest(std::span<const std::uint8_t> bytes, PrintRequest& out) {
  if (bytes.size() > kMaxPrintRequest) return false;
  Reader r(bytes);
  std::uint32_t settings = 0, args = 0;
  if (!r.Magic(kRequestMagic) || !r.U32(settings) || !r.U32(args) ||
      settings > kMaxPrintSettings || args > kMaxPrintArguments || !r.String(out.root)) {
    return false;
  }
  out.settings.assign(settings, {});
  out.args.assign(args, {});
  for (auto& s : out.settings) {
    if (!r.String(s)) return false;
  }
  for (auto& a : out.args) {
    if (!r.String(a)) return false;
  }
  return r.AtEnd();
}

std::string EncodePrintReply(const PrintReply& reply) {
  std::string out(kReplyMagic);
  out.push_back(reply.served ? 1 : 0);
  PutU32(out, static_cast<std::uint32_t>(reply.exitCode));
  PutString(out, reply.out);
  PutString(out, reply.err);
  return out;
}

bool DecodePrintReply(std::span<const std::uint8_t> bytes, PrintReply& out) {
  if (bytes.size() > kMaxPrintReply) return false;
  Reader r(bytes);
  std::uint8_t served = 0;
  std::uint32_t code = 0;
  if (!r.Magic(kReplyMagic) || !r.U8(served) || served > 1 || !r.U32(code) ||
      !r.String(out.out) || !r.String(out.err) || !r.AtEnd()) {
    return false;
  }
  out.served = served == 1;
  out.exitCode = static_cast<std::int32_t>(code);
  return true;
}

std::vector<std::string> OutputSettings() {
  std::vector<std::string> out;
  for (const char* name : kOutputVariables) {
    const char* value = std::getenv(name);
    out.push_back(value ? std::string(name) + "=" + value : std::string(name));
  }
  out.push_back(ProgramSetting("/proc/self/exe"));
  return out;
}

std::string ProgramSetting(const std::filesystem::path& program) {
  // The file by device, inode and change time: a replaced program file is a new inode, while
  // the old server still runs the deleted one.
  struct stat st {};
  std::string setting = "program=";
  if (::stat(program.c_str(), &st) == 0) {
    setting += std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
               std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
  }
  return setting;
}

std::filesystem::path PrintSocketPath(const std::filesystem::path& runtimeFolder,
                                      const std::filesystem::path& root) {
  // FNV-1a: a name that differs between roots; the server checks the root itself.
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const unsigned char c : root.lexically_normal().string()) {
    h = (h ^ c) * 0x100000001b3ULL;
  }
  char name[40];
  std::snprintf(name, sizeof name, "seek-%016llx.sock", static_cast<unsigned long long>(h));
  return runtimeFolder / name;
}

bool WriteFrame(int fd, std::string_view body) {
  std::string header;
  PutU32(header, static_cast<std::uint32_t>(body.size()));
  return body.size() <= UINT32_MAX && WriteAll(fd, header.data(), header.size()) &&
         WriteAll(fd, body.data(), body.size());
}

bool ReadFrame(int fd, std::size_t limit, std::string& body) {
  unsigned char header[4];
  if (!ReadAll(fd, reinterpret_cast<char*>(header), sizeof header)) return false;
  const std::size_t n = std::size_t{header[0]} | std::size_t{header[1]} << 8 |
                        std::size_t{header[2]} << 16 | std::size_t{header[3]} << 24;
  if (n > limit) return false;
  body.resize(n);
  return ReadAll(fd, body.data(), n);
}

}  // namespace qv::client
