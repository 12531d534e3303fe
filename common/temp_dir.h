#pragma once
// A temporary folder that is removed with everything in it when the object goes away; tests
// give every case its own root with it.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace qv {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qv-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::system_error(errno, std::generic_category());
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace qv
