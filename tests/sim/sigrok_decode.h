// The bytes sigrok's UART decoder (sigrok-cli, a decoder we did not write)
// finds on a channel of a Value Change Dump.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sigrok_decode {

inline constexpr const char* kSigrok = "/usr/bin/sigrok-cli";

// A long run's dump is read at 1/downsample of its nanosecond timescale:
// sigrok walks every sample, and a minute at 1 ns takes it hours.
inline std::string decode(const std::string& vcd, const std::string& channel, uint32_t baud,
                          unsigned downsample = 1) {
  const std::string command = std::string(kSigrok) + " -I vcd:downsample=" + std::to_string(downsample) + " -i " +
                              vcd + " -P uart:rx=" + channel +
                              ":baudrate=" + std::to_string(baud) + ":format=hex -A uart=rx-data 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string bytes;
  char line[256];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
    unsigned value = 0;
    if (std::sscanf(line, "uart-1: %x", &value) == 1) {
      bytes.push_back(static_cast<char>(value));
    }
  }
  if (pipe != nullptr) {
    pclose(pipe);
  }
  return bytes;
}

}  // namespace sigrok_decode
