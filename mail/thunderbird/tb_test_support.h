#pragma once
// For the host's tests: a Maildir++ store on disk laid out as the mail store keeps it.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/temp_dir.h"

namespace qv::mail::tb::testing {

inline constexpr const char* kStoreGuid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

class MaildirFixture {
 public:
  MaildirFixture() {
    for (const char* f : {"", ".Sent", ".Archives.2026"}) {
      for (const char* sub : {"cur", "new", "tmp"}) {
        std::filesystem::create_directories(root() / f / sub);
      }
    }
    std::ofstream(root() / "qv-store") << "id " << kStoreGuid << "\nsecret 00112233445566778899aabbccddeeff\n";
  }
  const std::filesystem::path root() const { return dir_.path() / "Mail"; }
  // A message file with the given Message-ID header.
  void Put(const std::string& folder, const std::string& sub, const std::string& file,
           const std::string& messageIdLine) {
    std::ofstream(root() / folder / sub / file)
        << "From: a@example.org\r\n" << messageIdLine << "\r\nSubject: hi\r\n\r\nMessage-ID: <body@x>\r\n";
  }
  // "outlook:" + hex of QVS1, the GUID's bytes, 'M', the folder's length and name, the name.
  static std::string Expected(const std::string& folder, const std::string& unique);

 private:
  TempDir dir_;
};

}  // namespace qv::mail::tb::testing
