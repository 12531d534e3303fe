#pragma once
// The registry: typed values in hive files QV_ROOT/registry/<hive>.reg, kept in the
// "Windows Registry Editor Version 5.00" text format. Key names compare without case;
// every write is atomic (temporary file + rename) under a file lock, so several processes
// may share one root. Errors are Win32 codes (win32::ERROR_*), 0 on success:
// ERROR_INVALID_PARAMETER or ERROR_FILENAME_EXCED_RANGE for a bad key path, name or value;
// ERROR_BADDB when the hive file does not parse (writes then fail too and leave the file as
// it is, for the user to repair).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

struct RegistryCache;

enum class Hive { LocalMachine, CurrentUser, ClassesRoot };

enum class RegType : std::uint32_t {
  Sz = 1,
  ExpandSz = 2,
  Binary = 3,
  Dword = 4,
  MultiSz = 7,
};

struct RegValue {
  RegType type = RegType::Dword;
  std::uint32_t dword = 0;              // Dword
  std::string text;                     // Sz, ExpandSz (UTF-8)
  std::vector<std::string> strings;     // MultiSz
  std::vector<std::uint8_t> binary;     // Binary

  static RegValue Dword(std::uint32_t v);
  static RegValue Sz(std::string_view s);
  static RegValue ExpandSz(std::string_view s);
  static RegValue MultiSz(std::vector<std::string> v);
  static RegValue Binary(std::vector<std::uint8_t> v);
  friend bool operator==(const RegValue&, const RegValue&) = default;
};

// "HKEY_LOCAL_MACHINE", "HKLM", "HKEY_CURRENT_USER", "HKCU", "HKEY_CLASSES_ROOT", "HKCR".
bool ParseHiveName(std::string_view name, Hive& out);
std::string_view HiveName(Hive h);

class Registry {
 public:
  // `root` is QV_ROOT; hive files live in root/registry.
  explicit Registry(std::filesystem::path root);

  // ERROR_FILE_NOT_FOUND when the key or the value is missing.
  std::int32_t GetValue(Hive hive, std::string_view key, std::string_view name,
                        RegValue& out) const;
  // Creates the key (and its parents) when missing. The empty name is the key's default value.
  std::int32_t SetValue(Hive hive, std::string_view key, std::string_view name,
                        const RegValue& value);
  std::int32_t DeleteValue(Hive hive, std::string_view key, std::string_view name);
  std::int32_t CreateKey(Hive hive, std::string_view key);
  // Deletes the key with all its sub-keys and values.
  std::int32_t DeleteKey(Hive hive, std::string_view key);
  bool KeyExists(Hive hive, std::string_view key) const;
  // Direct sub-key names (as first written) and values of a key, in stored order.
  std::int32_t EnumKeys(Hive hive, std::string_view key, std::vector<std::string>& out) const;
  std::int32_t EnumValues(Hive hive, std::string_view key,
                          std::vector<std::pair<std::string, RegValue>>& out) const;
  // The text of the key and everything below it in .reg format (the whole hive for "").
  std::int32_t Export(Hive hive, std::string_view key, std::string& out) const;

  const std::filesystem::path& root() const { return root_; }
  // root/registry/<HiveName>.reg
  std::filesystem::path HivePath(Hive hive) const;
  // Reads and parses the hive file: 0, or the error with `detail` saying what is wrong and
  // where ("line 12: ..."), for messages that tell the user what to repair.
  std::int32_t CheckHive(Hive hive, std::string& detail) const;

 private:
  std::filesystem::path root_;
  std::shared_ptr<RegistryCache> cache_;  // last parse of each hive; shared by copies
};

}  // namespace qv::platform
