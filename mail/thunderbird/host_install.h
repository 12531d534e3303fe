#pragma once
// Registering the host with the mail client: the native-messaging manifest that names the
// host's program and the one extension allowed to start it, written where the client looks
// for it (~/.mozilla/native-messaging-hosts/ and ~/.thunderbird/native-messaging-hosts/).
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace qv::mail::tb {

inline constexpr std::string_view kHostName = "qvmailhost";
// The extension's id (its manifest's gecko id); only it may start the host.
inline constexpr std::string_view kExtensionId = "qvmail@quillon-vesper";

std::string HostManifest(const std::filesystem::path& program);

// The manifest's paths under `home`.
std::vector<std::filesystem::path> ManifestPaths(const std::filesystem::path& home);

// Writes the manifest to every path (folders made 0700 when missing, each file written to a
// temporary name and renamed into place). The first failure is returned with its path.
HRESULT InstallHostManifest(const std::filesystem::path& home, const std::filesystem::path& program,
                            std::filesystem::path& failedPath);

}  // namespace qv::mail::tb
