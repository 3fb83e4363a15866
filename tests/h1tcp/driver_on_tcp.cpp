#include "driver_on_tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "peer.h"
#include "wire.h"

extern char** environ;

namespace tav::h1tcp::test {

namespace {

bool IsStationDump(std::string_view text) {
  return text.starts_with("TavSH1: ====") || text.starts_with("TavSH1: PLC # ");
}

// A listening socket on 127.0.0.1 and a free port the system chose.
int ListenOnFreePort(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd, 16);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

Bytes Words(std::initializer_list<uint16_t> values) {
  Bytes bytes;
  for (uint16_t value : values) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
  }
  return bytes;
}

Bytes DWords(std::initializer_list<uint32_t> values) {
  Bytes bytes;
  for (uint32_t value : values) {
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<uint8_t>(value >> shift));
  }
  return bytes;
}

Bytes Floats(std::initializer_list<float> values) {
  Bytes bytes;
  for (float value : values) {
    const Bytes one = DWords({std::bit_cast<uint32_t>(value)});
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

Bytes Text(const char* text) {
  return Bytes(text, text + std::strlen(text));
}

DriverOnTcp::DriverOnTcp() {
  HostLog().clear();
  previousDirectory_ = std::filesystem::current_path();
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  directory_ = std::filesystem::temp_directory_path() /
               (std::string("h1tcp-e2e-") + test->test_suite_name() + "-" + test->name());
  std::filesystem::remove_all(directory_);
  std::filesystem::create_directories(directory_);
  std::filesystem::current_path(directory_);
  setenv("TAV_H1TCP_MAP", (directory_ / "h1tcp.map").c_str(), 1);
}

DriverOnTcp::~DriverOnTcp() {
  Run(CommandCode::kCloseH1, nullptr);
  std::filesystem::current_path(previousDirectory_);
  std::filesystem::remove_all(directory_);
}

void DriverOnTcp::WriteFile(const char* name, std::string_view text) const {
  std::ofstream(directory_ / name, std::ios::binary) << text;
}

int32_t DriverOnTcp::Initialise(int32_t timeout) {
  InitBlock block{{}, 1, timeout};
  return Run(CommandCode::kInitialise, &block);
}

int32_t DriverOnTcp::Reconnect(int32_t number) {
  ReconnectBlock block{number};
  return Run(CommandCode::kReconnect, &block);
}

TransferBlock DriverOnTcp::Tag(const char* address, int32_t hostType) {
  AddressBlock parsed{};
  parsed.addressText = address;
  parsed.hostDataType = hostType;
  EXPECT_EQ(Run(CommandCode::kParseAddress, &parsed), 0) << address;
  return TransferBlockFor(parsed, address, 0, nullptr);
}

int32_t DriverOnTcp::Transfer(CommandCode command, TransferBlock block, int32_t count, void* data) {
  block.count = count;
  block.data = data;
  return Run(command, &block);
}

Bytes DriverOnTcp::ReadBlock(const char* address, int32_t hostType, int32_t count, size_t size) {
  Bytes host(size, 0xEE);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag(address, hostType), count, host.data()), 0)
      << address;
  return host;
}

std::vector<std::string> DriverOnTcp::Messages() const {
  std::vector<std::string> messages;
  for (const e2e::HostLogLine& line : HostLog()) {
    if (!IsStationDump(line.text)) messages.push_back(line.text);
  }
  return messages;
}

Snap7Server::Snap7Server(int pdu) {
#ifdef TAV_SNAP7_UNAVAILABLE
  (void)pdu;
  unavailable_ = TAV_SNAP7_UNAVAILABLE;
#else
  // A free port: the system picks one for a socket of ours, which lets it go at once.
  const int probe = ListenOnFreePort(port_);
  ::close(probe);
  int toServer[2];
  int fromServer[2];
  if (pipe2(toServer, O_CLOEXEC) != 0 || pipe2(fromServer, O_CLOEXEC) != 0) {
    unavailable_ = "no pipes";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toServer[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromServer[1], 1);
  std::vector<std::string> words;
  std::istringstream emulator(TAV_TEST_EMULATOR);
  for (std::string word; emulator >> word;) words.push_back(word);
  words.push_back(TAV_SNAP7_SERVER);
  words.push_back(std::to_string(port_));
  words.push_back(std::to_string(pdu));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toServer[0]);
  ::close(fromServer[1]);
  input_ = toServer[1];
  output_ = fromServer[0];
  if (spawned != 0) {
    pid_ = -1;
    unavailable_ = "cannot start " + std::string(TAV_SNAP7_SERVER);
    return;
  }
  if (!AwaitLine("started"))
    unavailable_ = "Snap7's server did not start on port " + std::to_string(port_);
#endif
}

Snap7Server::~Snap7Server() {
  if (input_ >= 0) {
    (void)::write(input_, "quit\n", 5);
    ::close(input_);
  }
  if (pid_ > 0) {
    int status = 0;
    for (int waited = 0; waited < 5000; waited += 10) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (output_ >= 0) ::close(output_);
}

void Snap7Server::Pump(int milliseconds) {
  pollfd entry{output_, POLLIN, 0};
  while (output_ >= 0 && ::poll(&entry, 1, milliseconds) > 0) {
    char chunk[4096];
    const ssize_t count = ::read(output_, chunk, sizeof chunk);
    if (count <= 0) return;
    pending_.append(chunk, static_cast<size_t>(count));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      lines_.push_back(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    milliseconds = 0;
  }
}

bool Snap7Server::AwaitLine(const char* prefix) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  size_t seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    Pump(50);
    for (; seen < lines_.size(); ++seen) {
      if (lines_[seen].starts_with(prefix)) {
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<ptrdiff_t>(seen) + 1);
        return true;
      }
    }
  }
  return false;
}

bool Snap7Server::Command(const char* command, const char* answer) {
  const std::string line = std::string(command) + "\n";
  if (::write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
  return AwaitLine(answer);
}

std::vector<std::string> Snap7Server::Events(size_t expected) {
  // The server logs an exchange after it answered it: wait a little for the lines expected.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  do {
    Pump(20);
  } while (lines_.size() < expected && std::chrono::steady_clock::now() < deadline);
  std::vector<std::string> events = std::move(lines_);
  lines_.clear();
  return events;
}

S5Responder::S5Responder(bool iso) : iso_(iso) {
  memory_[{kS5OrgDataBlock, 10}] = Bytes(512);
  memory_[{kS5OrgExtendedDataBlock, 10}] = Bytes(512);
  memory_[{kS5OrgFlags, 0}] = Bytes(256);
  memory_[{kS5OrgInputs, 0}] = Bytes(256);
  memory_[{kS5OrgOutputs, 0}] = Bytes(256);
  for (int i = 0; i < (iso ? 1 : 2); ++i) {
    listeners_[i] = ListenOnFreePort(ports_[i]);
    listenThreads_.emplace_back([this, i] { Listen(listeners_[i]); });
  }
}

S5Responder::~S5Responder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& thread : listenThreads_) thread.join();
  for (std::thread& thread : serveThreads_) thread.join();
  for (int fd : listeners_) {
    if (fd >= 0) ::close(fd);
  }
}

Bytes S5Responder::Memory(uint8_t org, uint8_t block) {
  std::lock_guard<std::mutex> lock(mutex_);
  return memory_[{org, block}];
}

std::vector<std::string> S5Responder::CalledTsaps() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tsaps_;
}

void S5Responder::Listen(int listener) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (ending_) return;
    }
    pollfd entry{listener, POLLIN, 0};
    if (::poll(&entry, 1, 20) <= 0) continue;
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (ending_) {
      ::close(fd);
      return;
    }
    connections_.push_back(fd);
    serveThreads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void S5Responder::Serve(int fd) {
  PeerSocket socket(fd);
  if (iso_) {
    const std::optional<Bytes> request = socket.ReadTpkt();
    if (!request) return;
    // The called TSAP: parameter 0xC2 of the request's variable part.
    for (size_t at = 4 + 7; at + 2 <= request->size(); at += 2 + (*request)[at + 1]) {
      if ((*request)[at] == 0xC2) {
        std::lock_guard<std::mutex> lock(mutex_);
        tsaps_.emplace_back(request->begin() + static_cast<ptrdiff_t>(at) + 2,
                            request->begin() + static_cast<ptrdiff_t>(at) + 2 + (*request)[at + 1]);
      }
    }
    socket.Confirm();  // once the TSAP is noted: the next connection may come at once
  }
  for (;;) {
    Bytes message;
    if (iso_) {
      std::optional<Bytes> data = socket.ReadData();
      if (!data) return;
      message = std::move(*data);
    } else {
      std::optional<Bytes> header = socket.Read(kS5HeaderBytes);
      if (!header) return;
      message = std::move(*header);
    }
    const std::optional<S5Request> request = ParseS5RequestHeader(message);
    if (!request) return;
    const size_t unit =
        request->org == kS5OrgDataBlock || request->org == kS5OrgExtendedDataBlock ? 2 : 1;
    if (!iso_ && request->opcode == S5Opcode::kWrite) {
      std::optional<Bytes> data = socket.Read(request->length * unit);
      if (!data) return;
      message.insert(message.end(), data->begin(), data->end());
    }
    const Bytes answer = Answer(*request, ByteView(message).subspan(kS5HeaderBytes));
    if (iso_) {
      socket.SendData(answer);
    } else {
      socket.Send(answer);
    }
  }
}

Bytes S5Responder::Answer(const S5Request& request, ByteView data) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool fetch = request.opcode == S5Opcode::kFetch;
  const S5Opcode ack = fetch ? S5Opcode::kFetchAck : S5Opcode::kWriteAck;
  const bool blocks = request.org == kS5OrgDataBlock || request.org == kS5OrgExtendedDataBlock;
  const auto found = memory_.find({request.org, blocks ? request.block : uint8_t{0}});
  if (found == memory_.end()) return S5AnswerHeader({ack, 2});
  const size_t unit = blocks ? 2 : 1;
  const size_t at = request.start * unit;
  const size_t bytes = request.length * unit;
  if (at + bytes > found->second.size() || (!fetch && data.size() != bytes)) {
    return S5AnswerHeader({ack, 3});
  }
  Bytes answer = S5AnswerHeader({ack, 0});
  auto memory = found->second.begin() + static_cast<ptrdiff_t>(at);
  if (fetch) {
    answer.insert(answer.end(), memory, memory + static_cast<ptrdiff_t>(bytes));
  } else {
    std::copy(data.begin(), data.end(), memory);
  }
  return answer;
}

}  // namespace tav::h1tcp::test
