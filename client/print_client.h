#pragma once
// QvSeek --print's side of the print server: hands the search to a running server of the
// same user and root, and falls back to searching in process wherever that does not work.
#include <filesystem>
#include <span>
#include <string_view>

#include "client/print_protocol.h"

namespace qv::client {

// Asks the print server of `root` to run QvSeek with `args` ("--print" first). True with the
// server's answer in `reply`; false when no server of this user is there, it declines (other
// settings), or it does not answer in time, and then the caller searches itself.
bool AskPrintServer(const std::filesystem::path& root, std::span<const std::string_view> args,
                    PrintReply& reply);

}  // namespace qv::client
