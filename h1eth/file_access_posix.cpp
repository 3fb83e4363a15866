#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_access.h"

namespace tav::h1eth {

bool PathExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

FileReading ReadSmallFile(const std::string& path, size_t limit) {
  FileReading reading;
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reading.outcome = errno == ENOENT ? FileReadOutcome::kMissing : FileReadOutcome::kUnreadable;
    reading.detail = std::strerror(errno);
    return reading;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    reading.outcome = S_ISDIR(status.st_mode) ? FileReadOutcome::kDirectory
                                              : FileReadOutcome::kNotRegular;
    ::close(fd);
    return reading;
  }
  // One byte beyond the limit shows a larger file (which may grow while it is read).
  reading.text.resize(limit + 1);
  size_t got = 0;
  while (got < reading.text.size()) {
    const ssize_t n = ::read(fd, reading.text.data() + got, reading.text.size() - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reading.outcome = FileReadOutcome::kUnreadable;
      reading.detail = std::strerror(errno);
      ::close(fd);
      reading.text.clear();
      return reading;
    }
    break;
  }
  ::close(fd);
  reading.text.resize(got);
  reading.outcome = got > limit ? FileReadOutcome::kTooLarge : FileReadOutcome::kRead;
  if (got > limit) reading.text.clear();
  return reading;
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, std::string& problem) {
  // Non-blocking: opening a FIFO for writing would otherwise wait for a reader, and a write to
  // one whose reader stopped reading would wait for it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = errno == ENXIO ? "a FIFO that nobody reads" : std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

OutputFile::~OutputFile() {
  ::close(static_cast<int>(handle_));
}

WriteOutcome OutputFile::Write(std::span<const uint8_t> bytes, std::string& detail) {
  // SIGPIPE is blocked on this thread only while it writes, and the one a gone reader raises is
  // taken back before it is unblocked, so that the process's own disposition never comes into
  // play. One that was pending before is left for the process.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &pipe, &previous);
  sigset_t pending;
  sigpending(&pending);
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

  WriteOutcome outcome = WriteOutcome::kWritten;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      outcome = WriteOutcome::kBehind;
    } else if (n < 0 && errno == EPIPE) {
      outcome = WriteOutcome::kReaderGone;
    } else {
      outcome = WriteOutcome::kFailed;
      detail = n < 0 ? std::strerror(errno) : "nothing written";
    }
    break;
  }

  if (outcome == WriteOutcome::kReaderGone && !pendingBefore) {
    const timespec none{};
    while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return outcome;
}

}  // namespace tav::h1eth
