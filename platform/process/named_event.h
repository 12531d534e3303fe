#pragma once
// A named manual-reset event of the logon session, shared between processes of one user.
// "Local\NAME" is the file NAME.event in the session's runtime folder (0700, the user's own).
// The creator holds an open-file-description lock on the file for as long as the event
// exists, so an event whose creator has gone, even by a crash, counts as absent. The file's
// first byte is '1' while the event is signalled and '0' while it is reset.
#include <filesystem>
#include <memory>
#include <string_view>

#include "common/hresult.h"

namespace qv::platform {

class NamedEvent {
 public:
  // Creates the event (signalled or not) and owns it until destroyed. A live event of
  // another creator gives HresultFromWin32(ERROR_ALREADY_EXISTS).
  static HRESULT Create(const std::filesystem::path& folder, std::string_view name,
                        bool signalled, std::unique_ptr<NamedEvent>& out);
  // Opens a live event: S_OK, or HresultFromWin32(ERROR_FILE_NOT_FOUND) when there is none.
  static HRESULT Open(const std::filesystem::path& folder, std::string_view name,
                      std::unique_ptr<NamedEvent>& out);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  HRESULT Set();
  HRESULT Reset();
  // Signalled now; false also when the state cannot be read.
  bool IsSet() const;
  // False once the creator has gone (only meaningful on an opened event).
  bool Alive() const;

 private:
  NamedEvent(int fd, bool owner) : fd_(fd), owner_(owner) {}
  HRESULT Write(char state);

  int fd_;
  bool owner_;
};

}  // namespace qv::platform
