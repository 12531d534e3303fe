#include "mail/thunderbird/host_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "mail/thunderbird/host_message.h"

namespace qv::mail::tb {

namespace fs = std::filesystem;

std::string HostManifest(const fs::path& program) {
  return "{\n"
         "  \"name\": " + JsonString(kHostName) + ",\n"
         "  \"description\": \"Quillon Vesper: reports the mail messages you read\",\n"
         "  \"path\": " + JsonString(program.string()) + ",\n"
         "  \"type\": \"stdio\",\n"
         "  \"allowed_extensions\": [" + JsonString(kExtensionId) + "]\n"
         "}\n";
}

std::vector<fs::path> ManifestPaths(const fs::path& home) {
  const std::string file = std::string(kHostName) + ".json";
  return {home / ".mozilla" / "native-messaging-hosts" / file,
          home / ".thunderbird" / "native-messaging-hosts" / file};
}

namespace {

HRESULT MakeFolders(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return S_OK;
  if (folder.has_parent_path() && folder.parent_path() != folder) {
    if (const HRESULT hr = MakeFolders(folder.parent_path()); Failed(hr)) return hr;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return HresultFromErrno(errno);
  return S_OK;
}

HRESULT WriteAtomically(const fs::path& path, std::string_view text) {
  if (const HRESULT hr = MakeFolders(path.parent_path()); Failed(hr)) return hr;
  const fs::path temp = path.string() + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return HresultFromErrno(errno);
  std::size_t done = 0;
  HRESULT hr = S_OK;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      hr = HresultFromErrno(errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (Succeeded(hr) && ::fsync(fd) != 0) hr = HresultFromErrno(errno);
  if (::close(fd) != 0 && Succeeded(hr)) hr = HresultFromErrno(errno);
  if (Succeeded(hr) && ::rename(temp.c_str(), path.c_str()) != 0) hr = HresultFromErrno(errno);
  if (Failed(hr)) ::unlink(temp.c_str());
  return hr;
}

}  // namespace

HRESULT InstallHostManifest(const fs::path& home, const fs::path& program, fs::path& failedPath) {
  const std::string text = HostManifest(program);
  for (const auto& path : ManifestPaths(home)) {
    if (const HRESULT hr = WriteAtomically(path, text); Failed(hr)) {
      failedPath = path;
      return hr;
    }
  }
  return S_OK;
}

}  // namespace qv::mail::tb
