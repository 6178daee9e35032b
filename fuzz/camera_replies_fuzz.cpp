// The camera driver's reply handling, against a camera whose bytes are the
// input. Input: the command (reset, frame-buffer control, buffer length,
// image read, data read) and its arguments in the first 8 bytes, how many
// stale bytes come before the command and where the reply pauses; then the
// camera's bytes: the stale ones, and the reply in two parts.
//
// A command may succeed only on a reply that opens with the reply sign, the
// serial number, the command and a zero status (the camera manual's frame),
// and what it hands over must be the bytes that followed that reply.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Lensa/Lensa.h"
#include "fuzz/forked_board.h"
#include "platform/driverlib.h"
#include "Lensa/link/uart.h"

namespace {

constexpr unsigned kCamera = 5;
constexpr size_t kHeaderSize = 8;
// The camera manual's reply sign and command codes.
constexpr uint8_t kReplySign = 0x76;
constexpr uint8_t kReset = 0x26;
constexpr uint8_t kBufferControl = 0x36;
constexpr uint8_t kBufferLength = 0x34;
constexpr uint8_t kReadBuffer = 0x32;
constexpr uint8_t kReadData = 0x30;
// The link's receive ring.
constexpr size_t kLinkBuffer = 2048;

enum class Command { Reset, BufferControl, BufferLength, ReadBuffer, ReadData };

struct Input {
  Command command;
  uint8_t serial;
  uint8_t argument;
  uint16_t length;  // image bytes, or data bytes to read
  std::string stale;
  std::string reply;
  size_t pauseAt;
};

void check(bool holds, const std::string& what) {
  if (!holds) {
    fuzz::broken(what);
  }
}

std::string hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
    text += ' ';
  }
  return text;
}

// The five bytes every reply opens with, and how many more its header has.
bool opensReply(const std::string& reply, uint8_t serial, uint8_t command) {
  return reply.size() >= 4 && static_cast<uint8_t>(reply[0]) == kReplySign &&
         static_cast<uint8_t>(reply[1]) == serial && static_cast<uint8_t>(reply[2]) == command && reply[3] == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::shareCoverage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) {
    return 0;
  }
  Input input;
  input.command = static_cast<Command>(data[0] % 5);
  input.serial = data[1];
  input.argument = data[2];
  // Up to a little more than the link can hold, so the refusal is reached.
  input.length = static_cast<uint16_t>(((data[3] << 8) | data[4]) % (kLinkBuffer + 64));
  const size_t staleCount = std::min<size_t>(data[5], size - kHeaderSize);
  input.stale.assign(reinterpret_cast<const char*>(data + kHeaderSize), staleCount);
  input.reply.assign(reinterpret_cast<const char*>(data + kHeaderSize + staleCount), size - kHeaderSize - staleCount);
  input.pauseAt = std::min<size_t>((data[6] << 8) | data[7], input.reply.size());

  sim::Bench bench;
  bench.uart(kCamera).baud(38400);
  if (!input.stale.empty()) {
    bench.uart(kCamera).send(sim::milliseconds(1), input.stale);
  }
  auto frame = std::make_shared<std::string>();
  auto replied = std::make_shared<bool>(false);
  const std::string first = input.reply.substr(0, input.pauseAt);
  const std::string rest = input.reply.substr(input.pauseAt);
  bench.uart(kCamera).onByte([frame, replied, first, rest](sim::PeerLink& link, uint8_t byte) {
    frame->push_back(static_cast<char>(byte));
    if (*replied || frame->size() < 4 || frame->size() < 4U + static_cast<uint8_t>((*frame)[3])) {
      return;
    }
    *replied = true;
    link.send(sim::milliseconds(50), first);
    link.send(sim::milliseconds(300), rest);
  });

  const sim::Time commandAt = sim::milliseconds(10) + static_cast<sim::Time>(input.stale.size()) * sim::microseconds(300);
  const sim::Outcome run = fuzz::runOnBoard(
      bench,
      [&input, commandAt] {
        SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
        GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
        GPIOPinConfigure(GPIO_PA0_U0RX);
        GPIOPinConfigure(GPIO_PA1_U0TX);
        UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, 0x60);
        UART5_Init();
        IntMasterEnable();
        sim::runUntil(commandAt);
        // The caller's buffers exactly as large as the read.
        std::string verdict;
        std::string handed;
        switch (input.command) {
          case Command::Reset: {
            const uint8_t* text = Lensa_Reset(input.serial);
            verdict = text != nullptr ? "1" : "0";
            if (text != nullptr) {
              handed.assign(reinterpret_cast<const char*>(text), 49);
            }
            break;
          }
          case Command::BufferControl:
            verdict = std::to_string(Lensa_FBuffCtrl(input.serial, input.argument));
            break;
          case Command::BufferLength:
            verdict = std::to_string(Lensa_GetFBuffLen(input.serial, input.argument));
            break;
          case Command::ReadBuffer: {
            std::vector<uint8_t> image(input.length + 5U);
            verdict = std::to_string(Lensa_ReadFBuff(input.serial, 0, 0x0A, 0, input.length, 10, image.data()));
            handed.assign(image.begin(), image.end());
            break;
          }
          case Command::ReadData: {
            const uint8_t count = static_cast<uint8_t>(input.length);
            auto* bytes = new uint8_t[count == 0 ? 1 : count]();
            verdict = std::to_string(Lensa_ReadData(input.serial, input.argument % 8, count, 0x00112233, bytes));
            handed.assign(reinterpret_cast<const char*>(bytes), count);
            delete[] bytes;
            break;
          }
        }
        sim::note(verdict);
        sim::note(handed);
      },
      commandAt + sim::seconds(60));

  const auto notes = run.notes();
  check(notes.size() == 2, "the command did not end within its time-outs");
  const std::string& verdict = notes[0].second;
  const std::string& handed = notes[1].second;
  const std::string& reply = input.reply;
  const bool succeeded = verdict != "0";
  switch (input.command) {
    case Command::Reset:
      check(!succeeded || opensReply(reply, input.serial, kReset), "a reset taken on the reply " + hex(reply));
      check(!succeeded || (reply.size() >= 5 + 49 && handed == reply.substr(5, 49)),
            "the reset's text is not what followed its reply: " + hex(handed));
      break;
    case Command::BufferControl:
      check(!succeeded || opensReply(reply, input.serial, kBufferControl),
            "a buffer control taken on the reply " + hex(reply));
      break;
    case Command::BufferLength: {
      check(!succeeded || opensReply(reply, input.serial, kBufferLength),
            "a buffer length taken from the reply " + hex(reply));
      if (succeeded) {
        uint32_t length = 0;
        for (size_t at = 5; at < 9 && at < reply.size(); ++at) {
          length = (length << 8) | static_cast<uint8_t>(reply[at]);
        }
        check(reply.size() >= 9 && verdict == std::to_string(length), "the length is not the reply's: " + verdict);
      }
      break;
    }
    case Command::ReadBuffer:
      check(!succeeded || input.length + 5U <= kLinkBuffer, "an image read larger than the link took place");
      check(!succeeded || opensReply(reply, input.serial, kReadBuffer), "an image read taken on " + hex(reply));
      check(!succeeded || (reply.size() >= 5 + input.length + 5U && handed == reply.substr(5, input.length + 5U)),
            "the image is not what followed its reply");
      check(input.length + 5U <= kLinkBuffer || run.sent(kCamera).empty(),
            "a refused image read sent its command");
      break;
    case Command::ReadData: {
      const uint8_t device = input.argument % 8;
      const size_t header = device == 6 ? 6 : 5;
      check(!succeeded || (device >= 1 && device <= 6), "a data read of no device succeeded");
      check(!succeeded || opensReply(reply, input.serial, kReadData), "a data read taken on " + hex(reply));
      check(!succeeded || (reply.size() >= header + handed.size() && handed == reply.substr(header, handed.size())),
            "the data are not what followed its reply");
      break;
    }
  }
  return 0;
}
