#include "browser/host/host_install.h"

#include <system_error>

#include "browser/host/json_reader.h"
#include "platform/urlcache/file_io.h"

namespace qv::browser {
namespace {

std::string Manifest(const std::filesystem::path& hostPath, std::string_view allowKey,
                     std::string_view allowed) {
  return "{\n  \"name\": " + JsonQuote(kHostName) +
         ",\n  \"description\": \"Quillon Vesper: reports the pages you visit to the activity "
         "tracer\",\n  \"path\": " +
         JsonQuote(hostPath.string()) + ",\n  \"type\": \"stdio\",\n  " + JsonQuote(allowKey) +
         ": [" + JsonQuote(allowed) + "]\n}\n";
}

}  // namespace

std::string ChromiumOrigin() { return "chrome-extension://" + std::string(kChromiumExtensionId) + "/"; }

std::string ChromiumManifest(const std::filesystem::path& hostPath) {
  return Manifest(hostPath, "allowed_origins", ChromiumOrigin());
}

std::string FirefoxManifest(const std::filesystem::path& hostPath) {
  return Manifest(hostPath, "allowed_extensions", kFirefoxExtensionId);
}

bool InstallManifests(const std::filesystem::path& home, const std::filesystem::path& hostPath,
                      std::vector<std::filesystem::path>& written, std::string& error) {
  const std::pair<std::filesystem::path, std::string> files[] = {
      {home / ".config" / "chromium" / "NativeMessagingHosts", ChromiumManifest(hostPath)},
      {home / ".mozilla" / "native-messaging-hosts", FirefoxManifest(hostPath)},
  };
  for (const auto& [folder, text] : files) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      error = "cannot create " + folder.string() + ": " + ec.message();
      return false;
    }
    const auto file = folder / (std::string(kHostName) + ".json");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (const auto rc = platform::ReplaceFile(file, {bytes, text.size()}); rc != 0) {
      error = "cannot write " + file.string() + " (error " + std::to_string(rc) + ")";
      return false;
    }
    written.push_back(file);
  }
  return true;
}

bool CallerAllowed(int argc, const char* const* argv) {
  if (argc >= 2 && argv[1] == ChromiumOrigin()) return true;
  return argc >= 3 && argv[2] == kFirefoxExtensionId;
}

}  // namespace qv::browser
