// The Windows side of the serial test under Wine: drives tavsh1.dll's serial commands the way the
// host does, one request per line read from standard input, and answers each with one line on
// standard output. The Linux side (build_machine/wine_serial_test.cpp) holds the other end of the
// port and checks what the port was set to.
//
//   configure NAME BAUD DATABITS STOPBITS PARITY TIMEOUT   command 15        "result R"
//   open                                                   command 13        "result R"
//   close                                                  command 12        "result R"
//   flags HEX        sets the DriverInstance's lineFlags                     "ok"
//   read COUNT       ReadFile of COUNT bytes on the port the instance holds  "read HEX" (what came)
//   timeout          the port's total read time-out                          "timeout MS"
//
// Anything else, or the end of the input, ends the program.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "abi/driver_instance.h"
#include "abi/port_parameters.h"
#include "abi/records.h"

namespace {

using TavMainFunction = int32_t (*)(tav::Request*);

struct Session {
  TavMainFunction tavMain = nullptr;
  std::unique_ptr<tav::DriverInstance> instance = std::make_unique<tav::DriverInstance>();

  std::string Run(tav::CommandCode command, void* parameters = nullptr) const {
    tav::Request request = tav::MakeRequest(instance.get(), command, parameters);
    return "result " + std::to_string(tavMain(&request));
  }
  HANDLE Port() const {
    // A handle carries 32 significant bits, sign-extended in a 64-bit process.
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(instance->portHandle)));
  }
};

std::string Configure(Session& session, std::istringstream& words) {
  tav::PortParameters parameters{};
  std::string name;
  words >> name >> parameters.baudRate >> parameters.dataBits >> parameters.stopBits >>
      parameters.parity >> parameters.timeout;
  // A number that does not fit its field (115200 in the 16-bit baudRate) fails the stream and
  // would leave the fields after it 0: say so instead of running command 15 on such a record.
  if (words.fail()) return "bad request: a number does not fit its PortParameters field";
  name.copy(parameters.portName, sizeof parameters.portName);
  return session.Run(tav::CommandCode::kConfigureSerialPort, &parameters);
}

std::string Open(Session& session, std::istringstream& /*words*/) {
  return session.Run(tav::CommandCode::kOpenSerialPort);
}

std::string Close(Session& session, std::istringstream& /*words*/) {
  return session.Run(tav::CommandCode::kCloseSerialPort);
}

std::string Flags(Session& session, std::istringstream& words) {
  words >> std::hex >> session.instance->lineFlags;
  return "ok";
}

std::string Read(Session& session, std::istringstream& words) {
  DWORD count = 0;
  words >> count;
  std::string bytes(count, '\0');
  DWORD got = 0;
  if (!ReadFile(session.Port(), bytes.data(), count, &got, nullptr)) return "read failed";
  std::string text = "read ";
  char hex[3];
  for (DWORD i = 0; i < got; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(bytes[i]));
    text += hex;
  }
  return text;
}

std::string Timeout(Session& session, std::istringstream& /*words*/) {
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(session.Port(), &timeouts)) return "timeout failed";
  return "timeout " + std::to_string(timeouts.ReadTotalTimeoutConstant);
}

struct Verb {
  const char* word;
  std::string (*run)(Session&, std::istringstream&);
};
constexpr Verb kVerbs[] = {
    {"configure", Configure}, {"open", Open}, {"close", Close},
    {"flags", Flags},         {"read", Read}, {"timeout", Timeout},
};

}  // namespace

int main() {
  const HMODULE library = LoadLibraryA("tavsh1.dll");
  if (library == nullptr) {
    std::cout << "LoadLibrary tavsh1.dll failed: error " << GetLastError() << std::endl;
    return 1;
  }
  Session session;
  // GetProcAddress hands out a generic function pointer; void (*)() converts to any other.
  session.tavMain = reinterpret_cast<TavMainFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "TavMain")));
  if (session.tavMain == nullptr) return 1;

  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    const Verb* verb = nullptr;
    for (const Verb& candidate : kVerbs) {
      if (word == candidate.word) verb = &candidate;
    }
    if (verb == nullptr) break;
    std::cout << verb->run(session, words) << std::endl;
  }
  return 0;
}
