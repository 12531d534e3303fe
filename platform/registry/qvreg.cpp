// qvreg: query, add, delete and export registry keys and values, in the manner of reg.exe,
// on the registry under QV_ROOT.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "common/hresult.h"
#include "common/utf.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/registry/registry.h"

namespace {

using qv::platform::Hive;
using qv::platform::Registry;
using qv::platform::RegType;
using qv::platform::RegValue;
namespace win32 = qv::win32;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

constexpr std::string_view kUsage =
    "qvreg: reads and changes the Quillon Vesper registry under QV_ROOT\n"
    "(default $XDG_DATA_HOME/quillon-vesper or ~/.local/share/quillon-vesper).\n"
    "\n"
    "  qvreg query  KEY [/v NAME | /ve] [/s]\n"
    "  qvreg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "  qvreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  qvreg export KEY [FILE] [/y]\n"
    "\n"
    "KEY      HIVE\\Sub\\Key with HIVE one of HKLM, HKCU, HKCR, HKEY_LOCAL_MACHINE,\n"
    "         HKEY_CURRENT_USER, HKEY_CLASSES_ROOT. Key names compare without case.\n"
    "/v NAME  the value NAME; /ve the key's default (unnamed) value; /va all values.\n"
    "/s       query: also every key below KEY.\n"
    "/t TYPE  REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY.\n"
    "/d DATA  REG_DWORD: decimal or 0x hex; REG_BINARY: hex digits (0A1B);\n"
    "         REG_MULTI_SZ: strings separated by \\0, or by the character given with /s.\n"
    "/f       add, delete: do not ask before overwriting or deleting.\n"
    "/y       export: overwrite FILE if it exists. Without FILE, export writes to stdout.\n"
    "\n"
    "Exit code 0 on success, 1 on failure (with a message on stderr).\n";

int Fail(std::string_view message) {
  std::cerr << "ERROR: " << message << "\n";
  return kExitFailed;
}

struct Args {
  std::string op;
  std::vector<std::string> positional;
  std::optional<std::string> valueName;  // /v NAME, or "" for /ve
  bool allValues = false;                // /va
  std::optional<std::string> type;
  std::optional<std::string> data;
  std::optional<std::string> separator;
  bool force = false;
  bool recurse = false;
  bool overwrite = false;
  bool help = false;
};

bool IsOption(std::string_view a, std::string_view name) {
  return a.size() == name.size() + 1 && (a[0] == '/' || a[0] == '-') &&
         qv::EqualsNoCase(a.substr(1), name);
}

// Parses argv; on a usage error returns its message.
std::optional<std::string> ParseArgs(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view s = argv[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (s == "--help" || s == "-h" || s == "/?" || s == "-?") {
      a.help = true;
    } else if (a.op.empty()) {
      a.op = qv::AsciiLower(s);
    } else if (IsOption(s, "v")) {
      a.valueName = next();
      if (!a.valueName) return "/v needs a value name";
    } else if (IsOption(s, "ve")) {
      a.valueName = "";
    } else if (IsOption(s, "va")) {
      a.allValues = true;
    } else if (IsOption(s, "t")) {
      a.type = next();
      if (!a.type) return "/t needs a type such as REG_SZ";
    } else if (IsOption(s, "d")) {
      a.data = next();
      if (!a.data) return "/d needs the data";
    } else if (IsOption(s, "s")) {
      if (a.op == "add") {
        a.separator = next();
        if (!a.separator || a.separator->size() != 1) return "/s needs one separator character";
      } else {
        a.recurse = true;
      }
    } else if (IsOption(s, "f")) {
      a.force = true;
    } else if (IsOption(s, "y")) {
      a.overwrite = true;
    } else if (s.size() > 1 && s[0] == '/' && s.find('/', 1) == std::string_view::npos &&
               s.size() <= 3) {
      return "unknown option " + std::string(s);
    } else {
      a.positional.emplace_back(s);
    }
  }
  return std::nullopt;
}

struct KeyArg {
  Hive hive;
  std::string path;     // below the hive
  std::string display;  // as reg.exe shows it: the full hive name, then the path as typed
};

std::optional<KeyArg> ParseKey(std::string_view s) {
  if (s.starts_with("\\\\")) return std::nullopt;  // remote machines are not supported
  while (s.size() > 1 && s.back() == '\\') s.remove_suffix(1);
  const std::size_t sep = s.find('\\');
  KeyArg k;
  if (!qv::platform::ParseHiveName(s.substr(0, sep), k.hive)) return std::nullopt;
  k.path = sep == std::string_view::npos ? std::string() : std::string(s.substr(sep + 1));
  k.display = std::string(qv::platform::HiveName(k.hive));
  if (!k.path.empty()) k.display += "\\" + k.path;
  return k;
}

std::string_view TypeName(RegType t) {
  switch (t) {
    case RegType::Sz: return "REG_SZ";
    case RegType::ExpandSz: return "REG_EXPAND_SZ";
    case RegType::Binary: return "REG_BINARY";
    case RegType::Dword: return "REG_DWORD";
    case RegType::MultiSz: return "REG_MULTI_SZ";
  }
  return "REG_NONE";
}

std::optional<RegType> ParseTypeName(std::string_view s) {
  for (RegType t : {RegType::Sz, RegType::ExpandSz, RegType::Binary, RegType::Dword,
                    RegType::MultiSz}) {
    if (qv::EqualsNoCase(s, TypeName(t))) return t;
  }
  return std::nullopt;
}

std::string DataText(const RegValue& v) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  switch (v.type) {
    case RegType::Dword: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(v.dword));
      return buf;
    }
    case RegType::Sz:
    case RegType::ExpandSz: return v.text;
    case RegType::Binary: {
      std::string out;
      for (std::uint8_t b : v.binary) {
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
      }
      return out;
    }
    case RegType::MultiSz: {
      std::string out;
      for (std::size_t i = 0; i < v.strings.size(); ++i) {
        if (i) out += "\\0";
        out += v.strings[i];
      }
      return out;
    }
  }
  return {};
}

void PrintValue(std::string_view name, const RegValue& v) {
  std::cout << "    " << (name.empty() ? "(Default)" : name) << "    " << TypeName(v.type)
            << "    " << DataText(v) << "\n";
}

// What went wrong and what to do about it.
int Report(const Registry& reg, const KeyArg& key, std::int32_t rc) {
  switch (rc) {
    case win32::ERROR_FILE_NOT_FOUND:
      return Fail("The system was unable to find the specified registry key or value.\n"
                  "Check the key path and the value name with: qvreg query " +
                  key.display);
    case win32::ERROR_BADDB: {
      std::string detail;
      reg.CheckHive(key.hive, detail);
      return Fail("The hive file " + reg.HivePath(key.hive).string() + " is damaged" +
                  (detail.empty() ? "" : " (" + detail + ")") +
                  ".\nNothing was changed. Repair that file with a text editor, or move it "
                  "aside to start an empty hive, then try again.");
    }
    case win32::ERROR_INVALID_PARAMETER:
      return Fail("Invalid key path, value name or data. Key names must not be empty (no "
                  "doubled backslashes), and names must not hold control characters.");
    case win32::ERROR_FILENAME_EXCED_RANGE:
      return Fail("Name too long: key names have at most 255 characters, value names 16383, "
                  "and keys at most 512 levels.");
    case win32::ERROR_ACCESS_DENIED:
      return Fail("Access is denied. Check the permissions of " +
                  (reg.root() / "registry").string() +
                  " (a hive's root key cannot be deleted).");
    default: {
      const std::string text = qv::SystemMessage(qv::HresultFromWin32(rc));
      return Fail((text.empty() ? "Win32 error " + std::to_string(rc) : text) +
                  "\nCheck that " + (reg.root() / "registry").string() +
                  " is a writable folder with free space, then try again.");
    }
  }
}

// Asks on the terminal; without one, the caller must have given /f.
bool Confirm(const std::string& question) {
  if (!::isatty(STDIN_FILENO)) return false;
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int QueryKey(const Registry& reg, Hive hive, const std::string& path, const std::string& display,
             bool recurse, int& matches) {
  std::vector<std::pair<std::string, RegValue>> values;
  std::vector<std::string> keys;
  if (const std::int32_t rc = reg.EnumValues(hive, path, values); rc != 0) return rc;
  if (const std::int32_t rc = reg.EnumKeys(hive, path, keys); rc != 0) return rc;
  std::cout << display << "\n";
  for (const auto& [name, value] : values) PrintValue(name, value);
  std::cout << "\n";
  matches += static_cast<int>(values.size());
  for (const auto& k : keys) {
    const std::string sub = path.empty() ? k : path + "\\" + k;
    if (recurse) {
      if (const int rc = QueryKey(reg, hive, sub, display + "\\" + k, true, matches); rc != 0) {
        return rc;
      }
    } else {
      std::cout << display << "\\" << k << "\n";
    }
  }
  return 0;
}

int Query(const Registry& reg, const KeyArg& key, const Args& a) {
  std::cout << "\n";
  if (a.valueName) {
    RegValue v;
    if (const std::int32_t rc = reg.GetValue(key.hive, key.path, *a.valueName, v); rc != 0) {
      return Report(reg, key, rc);
    }
    std::cout << key.display << "\n";
    PrintValue(*a.valueName, v);
    std::cout << "\n";
    return kExitOk;
  }
  int matches = 0;
  if (const int rc = QueryKey(reg, key.hive, key.path, key.display, a.recurse, matches); rc != 0) {
    return Report(reg, key, rc);
  }
  if (a.recurse) std::cout << "End of search: " << matches << " match(es) found.\n";
  return kExitOk;
}

std::optional<RegValue> MakeValue(RegType type, const std::string& data,
                                  const std::string& separator, std::string& why) {
  switch (type) {
    case RegType::Sz: return RegValue::Sz(data);
    case RegType::ExpandSz: return RegValue::ExpandSz(data);
    case RegType::Dword: {
      if (data.empty()) return RegValue::Dword(0);
      errno = 0;
      char* end = nullptr;
      const bool hex = data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X');
      const unsigned long long v = std::strtoull(data.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
      if (errno != 0 || *end != '\0' || data[hex ? 2 : 0] == '-' || data[hex ? 2 : 0] == '+' ||
          v > 0xFFFFFFFFull) {
        why = "REG_DWORD data must be a number from 0 to 4294967295 (or 0x0 to 0xffffffff)";
        return std::nullopt;
      }
      return RegValue::Dword(static_cast<std::uint32_t>(v));
    }
    case RegType::Binary: {
      std::vector<std::uint8_t> bytes;
      auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
      };
      if (data.size() % 2 != 0) {
        why = "REG_BINARY data must be an even number of hex digits, such as 0A1B";
        return std::nullopt;
      }
      for (std::size_t i = 0; i < data.size(); i += 2) {
        const int hi = digit(data[i]);
        const int lo = digit(data[i + 1]);
        if (hi < 0 || lo < 0) {
          why = "REG_BINARY data must be hex digits, such as 0A1B";
          return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
      }
      return RegValue::Binary(std::move(bytes));
    }
    case RegType::MultiSz: {
      std::vector<std::string> strings;
      if (!data.empty()) {
        std::size_t start = 0;
        while (true) {
          const std::size_t pos = data.find(separator, start);
          strings.push_back(data.substr(start, pos == std::string::npos ? pos : pos - start));
          if (pos == std::string::npos) break;
          start = pos + separator.size();
        }
      }
      return RegValue::MultiSz(std::move(strings));
    }
  }
  why = "unsupported type";
  return std::nullopt;
}

int Add(Registry& reg, const KeyArg& key, const Args& a) {
  if (!a.valueName && !a.type && !a.data) {
    if (const std::int32_t rc = reg.CreateKey(key.hive, key.path); rc != 0) {
      return Report(reg, key, rc);
    }
    std::cout << "The operation completed successfully.\n";
    return kExitOk;
  }
  const std::string name = a.valueName.value_or("");
  const std::string typeName = a.type.value_or("REG_SZ");
  const auto type = ParseTypeName(typeName);
  if (!type) {
    return Fail("Invalid type " + typeName +
                ". Use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD or REG_BINARY.");
  }
  std::string why;
  const auto value = MakeValue(*type, a.data.value_or(""), a.separator.value_or("\\0"), why);
  if (!value) return Fail(why + ".");
  RegValue old;
  if (!a.force && reg.GetValue(key.hive, key.path, name, old) == 0) {
    const std::string shown = name.empty() ? "(Default)" : name;
    if (!Confirm("Value " + shown + " exists, overwrite")) {
      return Fail("Value " + shown + " already exists. Add /f to overwrite it.");
    }
  }
  if (const std::int32_t rc = reg.SetValue(key.hive, key.path, name, *value); rc != 0) {
    return Report(reg, key, rc);
  }
  std::cout << "The operation completed successfully.\n";
  return kExitOk;
}

int Delete(Registry& reg, const KeyArg& key, const Args& a) {
  std::string what;
  if (a.valueName) {
    what = "the registry value " + (a.valueName->empty() ? "(Default)" : *a.valueName);
  } else if (a.allValues) {
    what = "all values under the registry key " + key.display;
  } else {
    what = "the registry key " + key.display + " and everything below it";
  }
  if (!a.force && !Confirm("Delete " + what)) {
    return Fail("Not deleted: add /f to delete " + what + " without asking.");
  }
  std::int32_t rc = 0;
  if (a.valueName) {
    rc = reg.DeleteValue(key.hive, key.path, *a.valueName);
  } else if (a.allValues) {
    std::vector<std::pair<std::string, RegValue>> values;
    rc = reg.EnumValues(key.hive, key.path, values);
    for (std::size_t i = 0; rc == 0 && i < values.size(); ++i) {
      rc = reg.DeleteValue(key.hive, key.path, values[i].first);
    }
  } else {
    rc = reg.DeleteKey(key.hive, key.path);
  }
  if (rc != 0) return Report(reg, key, rc);
  std::cout << "The operation completed successfully.\n";
  return kExitOk;
}

int Export(const Registry& reg, const KeyArg& key, const Args& a) {
  std::string text;
  if (const std::int32_t rc = reg.Export(key.hive, key.path, text); rc != 0) {
    return Report(reg, key, rc);
  }
  if (a.positional.size() < 2) {
    std::cout << text;
    return std::cout.flush() ? kExitOk : Fail("Could not write to standard output.");
  }
  const std::string& file = a.positional[1];
  if (!a.overwrite && ::access(file.c_str(), F_OK) == 0 && !Confirm("File " + file + " exists, overwrite")) {
    return Fail("The file " + file + " already exists. Add /y to overwrite it.");
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) return Fail("Could not write " + file + ". Check the folder exists and is writable.");
  std::cout << "The operation completed successfully.\n";
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  Args a;
  if (const auto bad = ParseArgs(argc, argv, a)) {
    return Fail(*bad + ". Type \"qvreg --help\" for usage.");
  }
  if (a.help) {
    std::cout << kUsage;
    return kExitOk;
  }
  if (a.op.empty()) {
    std::cerr << kUsage;
    return kExitFailed;
  }
  if (a.op != "query" && a.op != "add" && a.op != "delete" && a.op != "export") {
    return Fail("Unknown operation \"" + a.op +
                "\". Use query, add, delete or export; type \"qvreg --help\" for usage.");
  }
  const std::size_t maxPositional = a.op == "export" ? 2 : 1;
  if (a.positional.empty() || a.positional.size() > maxPositional) {
    return Fail(std::string(a.positional.empty() ? "Missing" : "Too many arguments after the") +
                " KEY. Type \"qvreg --help\" for usage.");
  }
  const auto key = ParseKey(a.positional[0]);
  if (!key) {
    return Fail("Invalid key name " + a.positional[0] +
                ". Start it with HKLM, HKCU, HKCR or a full hive name such as "
                "HKEY_CURRENT_USER\\Software.");
  }
  const auto root = qv::platform::DefaultRoot();
  qv::SystemClock clock;
  (void)qv::PreparePrivateRoot(root, qv::platform::EventLog(root, clock));
  Registry reg(root);
  if (a.op == "query") return Query(reg, *key, a);
  if (a.op == "add") return Add(reg, *key, a);
  if (a.op == "delete") return Delete(reg, *key, a);
  return Export(reg, *key, a);
}
