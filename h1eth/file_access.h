// The files libh1eth reads and writes beside its link: h1eth.conf, read whole and bounded, and the
// capture file, written without ever waiting. A host process must never stop in either: a FIFO
// or a device named as h1eth.conf would block a read (or never end one), a capture FIFO nobody
// reads would block its opening, a reader that stops reading would block its writes and a reader
// that goes away would end the process with SIGPIPE. One implementation per operating system
// (file_access_posix.cpp, file_access_win32.cpp), chosen by CMake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tav::h1eth {

// Whether something is at `path`, found without opening it (opening a FIFO may wait).
bool PathExists(const std::string& path);

enum class FileReadOutcome : uint8_t {
  kRead,        // `text` holds the whole file
  kMissing,     // nothing at the path
  kDirectory,   // a folder
  kNotRegular,  // a FIFO, a device or a socket: not read
  kTooLarge,    // larger than the limit: not read
  kUnreadable,  // any other failure (detail: the operating system's words)
};

struct FileReading {
  FileReadOutcome outcome = FileReadOutcome::kMissing;
  std::string text;
  std::string detail;
};

// A regular file of at most `limit` bytes, whole. Opens without waiting and reads nothing that is
// not a regular file, so that a FIFO or /dev/zero named by mistake neither blocks nor fills memory.
FileReading ReadSmallFile(const std::string& path, size_t limit);

// What became of one write to an OutputFile.
enum class WriteOutcome : uint8_t {
  kWritten,     // all of it
  kBehind,      // a FIFO's reader does not keep up: nothing (or, past the FIFO's atomic size,
                // not all) of it was written
  kReaderGone,  // a FIFO's reader went away: not written
  kFailed,      // any other failure, such as a full disk (detail: the operating system's words)
};

// A file created (or emptied) for writing whose writes never wait for a reader, not inherited by
// programs the host starts. A write to a FIFO
// whose reader went away returns kReaderGone; it raises no signal that could end the process, and
// the process's handling of that signal stays as the host set it.
class OutputFile {
 public:
  // Nothing, and `problem` says why, when the file cannot be opened; a FIFO without a reader is
  // not waited for but refused.
  static std::unique_ptr<OutputFile> Create(const std::string& path, std::string& problem);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // All of `bytes` in one write where the file allows, so that a FIFO's reader never sees half of
  // it; `detail` gets the operating system's words for kFailed.
  WriteOutcome Write(std::span<const uint8_t> bytes, std::string& detail);

 private:
  explicit OutputFile(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;  // the operating system's descriptor or handle
};

}  // namespace tav::h1eth
