#pragma once
// HRESULTs and Win32 error codes as the system uses them, and the one rule that turns a
// Win32 (or errno) failure into an HRESULT.
#include <cstdint>
#include <string>

namespace qv {

using HRESULT = std::int32_t;

constexpr HRESULT MakeHr(std::uint32_t v) { return static_cast<HRESULT>(v); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHr(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHr(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHr(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHr(0x800401F3);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);

inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeHr(0x80030001);
inline constexpr HRESULT STG_E_FILENOTFOUND = MakeHr(0x80030002);
inline constexpr HRESULT STG_E_PATHNOTFOUND = MakeHr(0x80030003);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeHr(0x80030005);
inline constexpr HRESULT STG_E_INVALIDHANDLE = MakeHr(0x80030006);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MakeHr(0x80030008);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHr(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = MakeHr(0x8003001E);
inline constexpr HRESULT STG_E_SHAREVIOLATION = MakeHr(0x80030020);
inline constexpr HRESULT STG_E_LOCKVIOLATION = MakeHr(0x80030021);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = MakeHr(0x80030050);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = MakeHr(0x80030057);
inline constexpr HRESULT STG_E_MEDIUMFULL = MakeHr(0x80030070);
inline constexpr HRESULT STG_E_INVALIDHEADER = MakeHr(0x800300FB);
inline constexpr HRESULT STG_E_INVALIDNAME = MakeHr(0x800300FC);
inline constexpr HRESULT STG_E_UNIMPLEMENTEDFUNCTION = MakeHr(0x800300FE);
inline constexpr HRESULT STG_E_INVALIDFLAG = MakeHr(0x800300FF);
inline constexpr HRESULT STG_E_DOCFILECORRUPT = MakeHr(0x80030109);

// Win32 error codes the system produces or tests for.
namespace win32 {
inline constexpr std::int32_t ERROR_SUCCESS = 0;
inline constexpr std::int32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::int32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::int32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr std::int32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::int32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::int32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::int32_t ERROR_BAD_FORMAT = 11;
inline constexpr std::int32_t ERROR_INVALID_DATA = 13;
inline constexpr std::int32_t ERROR_NOT_READY = 21;
inline constexpr std::int32_t ERROR_WRITE_FAULT = 29;
inline constexpr std::int32_t ERROR_READ_FAULT = 30;
inline constexpr std::int32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr std::int32_t ERROR_LOCK_VIOLATION = 33;
inline constexpr std::int32_t ERROR_HANDLE_EOF = 38;
inline constexpr std::int32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr std::int32_t ERROR_FILE_EXISTS = 80;
inline constexpr std::int32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::int32_t ERROR_BROKEN_PIPE = 109;
inline constexpr std::int32_t ERROR_DISK_FULL = 112;
inline constexpr std::int32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::int32_t ERROR_INVALID_NAME = 123;
inline constexpr std::int32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr std::int32_t ERROR_BUSY = 170;
inline constexpr std::int32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr std::int32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr std::int32_t ERROR_MORE_DATA = 234;
inline constexpr std::int32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::int32_t ERROR_ARITHMETIC_OVERFLOW = 534;
inline constexpr std::int32_t ERROR_BADDB = 1009;
inline constexpr std::int32_t ERROR_BADKEY = 1010;
inline constexpr std::int32_t ERROR_CANTOPEN = 1011;
inline constexpr std::int32_t ERROR_CANTREAD = 1012;
inline constexpr std::int32_t ERROR_CANTWRITE = 1013;
inline constexpr std::int32_t ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr std::int32_t ERROR_KEY_DELETED = 1018;
inline constexpr std::int32_t ERROR_NOT_FOUND = 1168;
inline constexpr std::int32_t ERROR_TIMEOUT = 1460;
inline constexpr std::int32_t ERROR_UNSUPPORTED_TYPE = 1630;
inline constexpr std::int32_t RPC_S_FP_OVERFLOW = 1771;
}  // namespace win32

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// A code of 0 or below passes unchanged; a positive code c becomes 0x80070000 | (c & 0xFFFF).
constexpr HRESULT HresultFromWin32(std::int32_t code) {
  return code <= 0 ? code : MakeHr(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

// The Win32 code that matches a POSIX errno value (ERROR_ACCESS_DENIED for EACCES, ...).
std::int32_t Win32FromErrno(int err);
inline HRESULT HresultFromErrno(int err) { return HresultFromWin32(Win32FromErrno(err)); }

// "0x%X" of the whole HRESULT.
std::string FormatHresult(HRESULT hr);
// "%d(0x%X)" of the low 16 bits, as error and warning events carry it.
std::string FormatLowWord(HRESULT hr);
// The system's message text for an HRESULT (English), empty when there is none.
std::string SystemMessage(HRESULT hr);

}  // namespace qv
