#include "manager/runtime/cache_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "common/utf.h"
#include "manager/runtime/manager_config.h"
#include "platform/fs/private_files.h"

namespace qv::manager {

std::filesystem::path CacheFolderFile(const std::filesystem::path& localAppData) {
  return localAppData / "Quillon" / "tempinet.dat";
}

std::string ReadPublishedCacheFolder(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string bytes;
  bytes.resize(kMaxCacheFolderBytes + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return DecodeCacheFolder(bytes);
}

std::string DecodeCacheFolder(std::string_view bytes) {
  if (bytes.size() > kMaxCacheFolderBytes || bytes.size() % 2 != 0) return {};
  std::u16string text;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  bool ok = true;
  std::string folder = Utf16ToUtf8(text, &ok);
  return ok ? folder : std::string();
}

HRESULT WritePublishedCacheFolder(const std::filesystem::path& file, const std::string& folder) {
  const std::u16string text = Utf8ToUtf16(folder);
  if (text.empty() || text.size() * 2 > kMaxCacheFolderBytes) return E_INVALIDARG;
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  if (auto ec = platform::CreatePrivateFolders(file.parent_path())) {
    return HresultFromErrno(ec.value());
  }
  const std::filesystem::path temp = file.string() + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                        platform::kPrivateFileMode);
  if (fd < 0) return HresultFromErrno(errno);
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = ::fsync(fd) == 0 && ok;
  const int err = errno;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    const int e = ok ? errno : err;
    ::unlink(temp.c_str());
    return HresultFromErrno(e != 0 ? e : EIO);
  }
  return S_OK;
}

HRESULT PublishCacheFolder(const std::filesystem::path& file, const std::string& current,
                           std::string& remembered) {
  const bool same = std::equal(current.begin(), current.end(), remembered.begin(),
                               remembered.end(), [](char a, char b) {
                                 return std::tolower(static_cast<unsigned char>(a)) ==
                                        std::tolower(static_cast<unsigned char>(b));
                               });
  if (same) return S_FALSE;
  const HRESULT hr = WritePublishedCacheFolder(file, current);
  if (Succeeded(hr)) remembered = current;
  return hr;
}

}  // namespace qv::manager
