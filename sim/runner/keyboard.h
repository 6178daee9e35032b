// The runner's own terminal as the world's hands while a run goes on in real
// time: single keys press the button, make the caretaker call or text, or
// end the run; a status line shows the time, the call, the LEDs and the
// console's last line.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sim/bench.h"
#include "sim/peers/sim900.h"

namespace sim {

// The keys, as --help and the status line tell them.
inline constexpr const char* kKeyboardKeys =
    "b presses the button (200 ms), c makes the caretaker call, t then a line and Enter makes the caretaker "
    "text it (Esc gives up), q ends the run (its outputs are written)";

class Keyboard final : public UartDevice {
 public:
  // Reads fd (a terminal, put in raw mode for the run: whoever runs it puts
  // it back, as the run is a process of its own); the status line goes to
  // out. The modem is the run's own, to ring and text through.
  Keyboard(int in, int out, std::shared_ptr<peers::Sim900> modem, bool console);

  void start(PeerLink& link) override;
  void heard(PeerLink& link, uint8_t byte) override;
  void wake(PeerLink& link, uint64_t tag) override;
  void pinChanged(PeerLink& link, Pin pin, bool high) override;

 private:
  void key(PeerLink& link, char key);
  void draw(PeerLink& link);

  int in_;
  int out_;
  std::shared_ptr<peers::Sim900> modem_;
  bool console_;  // the keyboard's line is the console's
  std::string line_;          // the console's line being written
  std::string lastLine_;      // its last whole one
  std::optional<std::string> typing_;  // a text for the caretaker to send
  bool leds_[3] = {false, false, false};  // red, blue, green
  std::string shown_;
};

}  // namespace sim
