#pragma once
// For tests: another process takes hold of something (a lock on a file, as an office suite
// holds the document it has open) and keeps it until Release or destruction.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace qv {

class HeldInChild {
 public:
  // Runs `take` in a child process; taken() tells whether it succeeded there. What `take`
  // holds must outlive it (captured from the caller's frame): the child keeps its copy of
  // that frame until it is released.
  explicit HeldInChild(const std::function<bool()>& take) {
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    if (::pipe2(release, O_CLOEXEC) != 0) {
      ::close(ready[0]);
      ::close(ready[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // Keep only our own ends, so that the parent's close reaches us as end of file.
      ::close(ready[0]);
      ::close(release[1]);
      const char ok = take() ? '1' : '0';
      [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
      char c;
      n = ::read(release[0], &c, 1);  // ends when the test releases
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = 0;
    taken_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
  }
  HeldInChild(const HeldInChild&) = delete;
  HeldInChild& operator=(const HeldInChild&) = delete;
  ~HeldInChild() { Release(); }

  bool taken() const { return taken_; }
  // Lets go and waits for the child to end.
  void Release() {
    if (release_ >= 0) ::close(release_);
    release_ = -1;
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  // A POSIX write lock on the whole of `file`, as other programs take one.
  static bool PosixWriteLock(const char* file) {
    const int fd = ::open(file, O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool taken_ = false;
};

}  // namespace qv
