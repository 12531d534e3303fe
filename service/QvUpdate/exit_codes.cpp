#include "service/QvUpdate/exit_codes.h"

namespace qv::update {

int ExitCodeFor(HRESULT hr) {
  switch (hr) {
    case S_OK: return kExitOk;
    case S_FALSE: return kExitNothingDone;
    case E_INVALIDARG: return kExitBadArguments;
    case E_OUTOFMEMORY: return kExitOutOfMemory;
    case REGDB_E_CLASSNOTREG: return kExitClassNotAvailable;
    case STG_E_LOCKVIOLATION:
    case STG_E_SHAREVIOLATION: return kExitLocked;
    case E_ACCESSDENIED:
    case STG_E_ACCESSDENIED: return kExitAccessDenied;
    case STG_E_FILENOTFOUND:
    case STG_E_PATHNOTFOUND:
    case HresultFromWin32(win32::ERROR_FILE_NOT_FOUND):
    case HresultFromWin32(win32::ERROR_PATH_NOT_FOUND): return kExitNotFound;
    case E_FAIL: return kExitFailed;
    default: return Succeeded(hr) ? kExitOtherSuccess : kExitOtherError;
  }
}

}  // namespace qv::update
