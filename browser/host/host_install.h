#pragma once
// `qvbrowserhost --install`: the native-messaging host manifests that tell Chromium and
// Firefox where the host is and which extension may start it.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qv::browser {

// The host's registered name, the extension allowed to talk to it in each browser.
inline constexpr std::string_view kHostName = "com.quillon.vesper.browser";
// Chromium derives the extension's id from the public key fixed in its manifest.
inline constexpr std::string_view kChromiumExtensionId = "gianbpdkmckpdjpclmofeeegfmgppjme";
inline constexpr std::string_view kFirefoxExtensionId = "browser-addon@quillon-vesper.invalid";

// The origin Chromium passes as the host's first argument.
std::string ChromiumOrigin();

// The manifest texts for a host program at `hostPath`.
std::string ChromiumManifest(const std::filesystem::path& hostPath);
std::string FirefoxManifest(const std::filesystem::path& hostPath);

// Writes both manifests below `home` (~/.config/chromium/NativeMessagingHosts/ and
// ~/.mozilla/native-messaging-hosts/), each replaced whole. The written paths go to `written`;
// false with the reason in `error` on a failure.
bool InstallManifests(const std::filesystem::path& home, const std::filesystem::path& hostPath,
                      std::vector<std::filesystem::path>& written, std::string& error);

// Whether the arguments the browser started the host with name our own extension: Chromium
// passes the caller's origin first, Firefox the manifest path and then the extension's id.
bool CallerAllowed(int argc, const char* const* argv);

}  // namespace qv::browser
