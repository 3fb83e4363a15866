#include <windows.h>

#include <string>

#include "file_access.h"

namespace tav::h1eth {

namespace {

// The system's words for the calling thread's last error, without the line break it ends with.
std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[256] = {};
  DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              code, 0, text, sizeof text, nullptr);
  while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r' || text[size - 1] == '.')) {
    --size;
  }
  if (size == 0) return "error " + std::to_string(code);
  return std::string(text, size);
}

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

// Paths are Windows paths in the process's code page, as the environment gives them.
bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileReading ReadSmallFile(const std::string& path, size_t limit) {
  FileReading reading;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reading.outcome = FileReadOutcome::kDirectory;
    return reading;
  }
  // A named pipe or a device opens as well as a file does; only a file on a disk is read.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    reading.outcome = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                          ? FileReadOutcome::kMissing
                          : FileReadOutcome::kUnreadable;
    reading.detail = LastErrorText();
    return reading;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    reading.outcome = FileReadOutcome::kNotRegular;
    CloseHandle(file);
    return reading;
  }
  // One byte beyond the limit shows a larger file (which may grow while it is read).
  reading.text.resize(limit + 1);
  size_t got = 0;
  while (got < reading.text.size()) {
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(reading.text.size() - got);
    if (!ReadFile(file, reading.text.data() + got, ask, &n, nullptr)) {
      reading.outcome = FileReadOutcome::kUnreadable;
      reading.detail = LastErrorText();
      CloseHandle(file);
      reading.text.clear();
      return reading;
    }
    if (n == 0) break;
    got += n;
  }
  CloseHandle(file);
  reading.text.resize(got);
  reading.outcome = got > limit ? FileReadOutcome::kTooLarge : FileReadOutcome::kRead;
  if (got > limit) reading.text.clear();
  return reading;
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, std::string& problem) {
  // Default security attributes: the handle is not inherited by programs the host starts.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    problem = GetLastError() == ERROR_PIPE_BUSY ? "a pipe that nobody reads" : LastErrorText();
    return nullptr;
  }
  // A named pipe's writes are made non-waiting, so that a reader that stops reading never holds a
  // write; for a file on a disk this does nothing.
  if (GetFileType(file) == FILE_TYPE_PIPE) {
    DWORD mode = PIPE_NOWAIT;
    SetNamedPipeHandleState(file, &mode, nullptr, nullptr);
  }
  return std::unique_ptr<OutputFile>(new OutputFile(reinterpret_cast<intptr_t>(file)));
}

OutputFile::~OutputFile() {
  CloseHandle(AsHandle(handle_));
}

WriteOutcome OutputFile::Write(std::span<const uint8_t> bytes, std::string& detail) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(bytes.size() - done);
    if (!WriteFile(AsHandle(handle_), bytes.data() + done, ask, &n, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE) return WriteOutcome::kReaderGone;
      detail = LastErrorText();
      return WriteOutcome::kFailed;
    }
    // A non-waiting pipe whose reader does not keep up takes nothing.
    if (n == 0) return WriteOutcome::kBehind;
    done += n;
  }
  return WriteOutcome::kWritten;
}

}  // namespace tav::h1eth
