// The driver's banner (command 14) written out independently, for the unit tests of the driver
// information and for the end-to-end tests of the shipped library.
#pragma once

#include <string>

namespace tav::fake {

// The banner written out independently, line by line, in code page 437 bytes.
inline std::string ExpectedBanner() {
  auto framed = [](const std::string& inner) { return "\xB3" + inner + "\xB3\n"; };
  const std::string edge(61, '\xC4');
  std::string title = " " + std::string(5, '\xDB') + std::string(6, '\xB2') +
                      std::string(6, '\xB1') + std::string(6, '\xB0') + " T A V S H 1 " +
                      std::string(6, '\xB0') + std::string(6, '\xB1') + std::string(6, '\xB2') +
                      std::string(5, '\xDB') + " ";
  return "\n"
         "\xDA" +
         edge + "\xBF\n" + framed(title) +
         framed(std::string(11, ' ') + "SIEMENS SIMATIC S5, Driver installed." +
                std::string(13, ' ')) +
         framed(std::string(4, ' ') + "Siemens SIMATIC S5 & S7 family, Indusrial Network (H1)" +
                std::string(3, ' ')) +
         framed(" Open driver - with simulated H1 stations for trying it out  ") + "\xC0" + edge +
         "\xD9\n";
}

}  // namespace tav::fake
