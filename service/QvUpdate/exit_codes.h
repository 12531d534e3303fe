#pragma once
// QvUpdate's exit code. A process's exit status has 8 bits, too few for an HRESULT, so the
// result of the run is mapped to a small code; the full HRESULT of every failed run is in
// the event log (event kEventUpdateFailed).
//
//   code  meaning                                        HRESULTs
//   0     the ranking record was written                 S_OK
//   1     nothing done: the file is not ranked, or the   S_FALSE
//         service gave the update up at the retry limit
//   2     bad arguments                                  E_INVALIDARG
//   3     out of memory                                  E_OUTOFMEMORY
//   4     a class is not available (the service)         REGDB_E_CLASSNOTREG
//   5     the file is still locked                       STG_E_LOCKVIOLATION, STG_E_SHAREVIOLATION
//   6     access denied                                  E_ACCESSDENIED, STG_E_ACCESSDENIED
//   7     the file or its folder does not exist          STG_E_FILENOTFOUND, STG_E_PATHNOTFOUND,
//                                                        0x80070002, 0x80070003
//   8     unspecified failure                            E_FAIL
//   9     any other success code
//   10    any other error
#include <string_view>

#include "common/hresult.h"

namespace qv::update {

enum ExitCode : int {
  kExitOk = 0,
  kExitNothingDone = 1,
  kExitBadArguments = 2,
  kExitOutOfMemory = 3,
  kExitClassNotAvailable = 4,
  kExitLocked = 5,
  kExitAccessDenied = 6,
  kExitNotFound = 7,
  kExitFailed = 8,
  kExitOtherSuccess = 9,
  kExitOtherError = 10,
};

int ExitCodeFor(HRESULT hr);

// The table above, for --help.
inline constexpr std::string_view kExitCodeHelp =
    "Exit codes (the full result of a failed run is written to the event log):\n"
    "  0   the ranking record was written\n"
    "  1   nothing done: the file is not ranked, or the update was given up at the retry limit\n"
    "  2   bad arguments\n"
    "  3   out of memory\n"
    "  4   a class is not available (is the ranking service installed?)\n"
    "  5   the file is still locked by another program\n"
    "  6   access denied\n"
    "  7   the file or its folder does not exist\n"
    "  8   unspecified failure\n"
    "  9   another success code\n"
    "  10  another error\n";

}  // namespace qv::update
