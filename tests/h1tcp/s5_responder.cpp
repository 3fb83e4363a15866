#include "s5_responder.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "peer.h"
#include "vocabulary/byte_order.h"

namespace tav::h1tcp::test {

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
