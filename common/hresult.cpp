#include "common/hresult.h"

#include <cerrno>
#include <cstdio>

namespace qv {

std::int32_t Win32FromErrno(int err) {
  using namespace win32;
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_FAULT;
    case EIO: return ERROR_READ_FAULT;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return ERROR_LOCK_VIOLATION;
    case ETXTBSY:
    case EBUSY: return ERROR_BUSY;
    case ENOTSUP:
#if EOPNOTSUPP != ENOTSUP
    case EOPNOTSUPP:
#endif
    case ENOSYS: return ERROR_NOT_SUPPORTED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ERANGE: return ERROR_INSUFFICIENT_BUFFER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENODATA: return ERROR_NOT_FOUND;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return ERROR_INVALID_DATA;
  }
}

std::string FormatHresult(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(hr));
  return buf;
}

std::string FormatLowWord(HRESULT hr) {
  const unsigned low = static_cast<unsigned>(hr) & 0xFFFFu;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d(0x%X)", static_cast<int>(low), low);
  return buf;
}

std::string SystemMessage(HRESULT hr) {
  struct Entry {
    HRESULT hr;
    const char* text;
  };
  static constexpr Entry kTable[] = {
      {S_OK, "The operation completed successfully."},
      {E_FAIL, "Unspecified error"},
      {E_NOTIMPL, "Not implemented"},
      {E_NOINTERFACE, "No such interface supported"},
      {E_POINTER, "Invalid pointer"},
      {E_ABORT, "Operation aborted"},
      {E_UNEXPECTED, "Catastrophic failure"},
      {E_ACCESSDENIED, "Access is denied."},
      {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
      {E_INVALIDARG, "The parameter is incorrect."},
      {REGDB_E_CLASSNOTREG, "Class not registered"},
      {HresultFromWin32(win32::ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."},
      {HresultFromWin32(win32::ERROR_PATH_NOT_FOUND), "The system cannot find the path specified."},
      {HresultFromWin32(win32::ERROR_INVALID_HANDLE), "The handle is invalid."},
      {HresultFromWin32(win32::ERROR_WRITE_FAULT), "The system cannot write to the specified device."},
      {HresultFromWin32(win32::ERROR_READ_FAULT), "The system cannot read from the specified device."},
      {HresultFromWin32(win32::ERROR_SHARING_VIOLATION),
       "The process cannot access the file because it is being used by another process."},
      {HresultFromWin32(win32::ERROR_LOCK_VIOLATION),
       "The process cannot access the file because another process has locked a portion of the file."},
      {HresultFromWin32(win32::ERROR_NOT_SUPPORTED), "The request is not supported."},
      {HresultFromWin32(win32::ERROR_ALREADY_EXISTS), "Cannot create a file when that file already exists."},
      {HresultFromWin32(win32::ERROR_DISK_FULL), "There is not enough space on the disk."},
      {HresultFromWin32(win32::ERROR_INSUFFICIENT_BUFFER),
       "The data area passed to a system call is too small."},
      {HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE), "The filename or extension is too long."},
      {HresultFromWin32(win32::ERROR_NOT_FOUND), "Element not found."},
      {HresultFromWin32(win32::ERROR_TIMEOUT), "This operation returned because the timeout period expired."},
      {HresultFromWin32(win32::ERROR_UNSUPPORTED_TYPE), "Data of this type is not supported."},
      {HresultFromWin32(win32::RPC_S_FP_OVERFLOW), "A floating-point overflow occurred at the RPC server."},
      {HresultFromWin32(win32::ERROR_INVALID_DATA), "The data is invalid."},
      {STG_E_FILENOTFOUND, "%1 could not be found."},
      {STG_E_ACCESSDENIED, "Access Denied."},
      {STG_E_SHAREVIOLATION, "A share violation has occurred."},
      {STG_E_LOCKVIOLATION, "A lock violation has occurred."},
      {STG_E_INVALIDHEADER, "The file %1 is not a valid compound file."},
      {STG_E_INVALIDFLAG, "Invalid flag error."},
      {STG_E_MEDIUMFULL, "There is insufficient disk space to complete operation."},
      {STG_E_DOCFILECORRUPT, "The compound file %1 is corrupt."},
      {STG_E_WRITEFAULT, "A disk error occurred during a write operation."},
      {STG_E_READFAULT, "A disk error occurred during a read operation."},
  };
  for (const auto& e : kTable) {
    if (e.hr == hr) return e.text;
  }
  return {};
}

}  // namespace qv
