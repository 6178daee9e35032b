#include "sim/runner/keyboard.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace sim {

namespace {

// How often the keys are read and the line drawn, in virtual time (real
// time, as the run is paced).
constexpr Time kPoll = milliseconds(20);
constexpr Pin kLeds[3] = {PF1, PF2, PF3};
constexpr const char* kColours[3] = {"31", "34", "32"};

void writeAll(int fd, const std::string& text) {
  for (size_t written = 0; written < text.size();) {
    const ssize_t wrote = ::write(fd, text.data() + written, text.size() - written);
    if (wrote <= 0) {
      return;
    }
    written += static_cast<size_t>(wrote);
  }
}

}  // namespace

Keyboard::Keyboard(int in, int out, std::shared_ptr<peers::Sim900> modem, bool console)
    : in_(in), out_(out), modem_(std::move(modem)), console_(console) {}

void Keyboard::start(PeerLink& link) {
  termios raw{};
  if (tcgetattr(in_, &raw) == 0) {
    // Keys one at a time, not echoed; Ctrl-C still stops the runner.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(in_, TCSANOW, &raw);
  }
  writeAll(out_, std::string("keys: ") + kKeyboardKeys + "\n");
  link.wakeAfter(kPoll, 0);
}

void Keyboard::heard(PeerLink&, uint8_t byte) {
  if (!console_) {
    return;
  }
  if (byte == '\n' || byte == '\r') {
    if (!line_.empty()) {
      lastLine_ = line_;
    }
    line_.clear();
  } else if (byte >= 0x20 && byte < 0x7F && line_.size() < 200) {
    line_ += static_cast<char>(byte);
  }
}

void Keyboard::pinChanged(PeerLink&, Pin pin, bool high) {
  for (int led = 0; led < 3; ++led) {
    if (pin.port == kLeds[led].port && pin.pin == kLeds[led].pin) {
      leds_[led] = high;
    }
  }
}

void Keyboard::key(PeerLink& link, char key) {
  if (typing_) {
    if (key == '\r' || key == '\n') {
      link.recordInput("caretaker texts \"" + *typing_ + "\" (keyboard)");
      modem_->textFromCaretaker(*typing_);
      typing_.reset();
    } else if (key == 0x1B) {
      typing_.reset();
    } else if ((key == 0x7F || key == 0x08) && !typing_->empty()) {
      typing_->pop_back();
    } else if (key >= 0x20 && key < 0x7F && typing_->size() < 160) {
      *typing_ += key;
    }
    return;
  }
  switch (key) {
    case 'b': {
      link.recordInput("button pressed (keyboard)");
      link.drive(pressChanges(PF4, link.now(), milliseconds(200)));
      break;
    }
    case 'c':
      link.recordInput("caretaker calls (keyboard)");
      modem_->callFromCaretaker();
      break;
    case 't':
      typing_ = std::string();
      break;
    case 'q':
      writeAll(out_, "\r\x1b[K");
      link.recordInput("run ended (keyboard)");
      link.endRun();
      break;
    default:
      break;
  }
}

void Keyboard::draw(PeerLink& link) {
  char time[32];
  std::snprintf(time, sizeof time, "%9.3f s", static_cast<double>(link.now()) / 1e12);
  std::string status = std::string(time) + "  call: " + modem_->callState() + "  LEDs ";
  for (int led = 0; led < 3; ++led) {
    status += leds_[led] ? std::string("\x1b[") + kColours[led] + "m\xE2\x97\x8F\x1b[0m" : std::string("\xC2\xB7");
  }
  if (typing_) {
    status += "  text to send: " + *typing_ + "_";
  } else if (console_) {
    status += "  console: " + lastLine_.substr(0, 60);
  }
  if (status != shown_) {
    shown_ = status;
    writeAll(out_, "\r\x1b[K" + status);
  }
}

void Keyboard::wake(PeerLink& link, uint64_t) {
  pollfd ready{in_, POLLIN, 0};
  while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
    char got = 0;
    if (read(in_, &got, 1) != 1) {
      break;
    }
    key(link, got);
  }
  draw(link);
  link.wakeAfter(kPoll, 0);
}

}  // namespace sim
