#pragma once
// The hive file format: "Windows Registry Editor Version 5.00" text, as Regedit exports it,
// kept in UTF-8. Key lines "[HKEY_CURRENT_USER\Software\Quillon]", values
//   "Name"="text"          REG_SZ, with \\ and \" escapes
//   "Name"=dword:0000001e  REG_DWORD
//   "Name"=hex:01,02       REG_BINARY
//   "Name"=hex(2):..       REG_EXPAND_SZ, hex(7): REG_MULTI_SZ, hex(1): REG_SZ (UTF-16LE)
//   @=...                  the key's default value
// with long hex lists continued by a trailing backslash. Parsing never trusts the input:
// every bound in reg_names.h holds for whatever it accepts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry/reg_tree.h"
#include "platform/registry/registry.h"

namespace qv::platform {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

struct RegParseError {
  std::int32_t code = 0;
  std::size_t line = 0;  // 1-based, 0 when the fault is not on one line
  std::string message;
  // "line 12: ..." or the bare message.
  std::string Describe() const;
};

// Parses a hive file's text into `root`, an empty key that becomes the hive's root (its name
// should be HiveName(hive)). Empty text is an empty hive. Every key line must lie in `hive`.
// Returns 0 or ERROR_BADDB with the details in `err`.
std::int32_t ParseRegText(std::string_view text, Hive hive, RegKey& root,
                          RegParseError* err = nullptr);

// The whole hive: header, the root key's line, then every key below in stored order.
std::string FormatRegText(const RegKey& root);
// Appends the lines of `key` (full name `path`) and of every key below it.
void FormatRegKey(std::string& out, const std::string& path, const RegKey& key);
// Appends one value line, wrapping long hex lists.
void FormatRegValue(std::string& out, std::string_view name, const RegValue& v);

// Checks a value before it is stored: known type, valid UTF-8 text, no NUL inside the
// strings of a MULTI_SZ, data within kMaxValueBytes. 0 or ERROR_INVALID_PARAMETER.
std::int32_t CheckValue(const RegValue& v);

}  // namespace qv::platform
