// The camera driver against a scripted camera on UART5.
#include <gtest/gtest.h>

#include <memory>

#include "Lensa/Lensa.h"
#include "buffer.h"
#include "platform/driverlib.h"
#include "sim/sim.h"
#include "uart.h"

namespace {

using namespace sim;

constexpr unsigned kCamera = 5;
constexpr unsigned kConsole = 0;
// The time-out: 1000000000 cycles at 50 MHz.
constexpr Time kTimeout = seconds(20);

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) {
    text.push_back(static_cast<char>(value));
  }
  return text;
}

// Answers each whole command frame after a short delay, as the camera does.
struct ScriptedCamera {
  std::string frame;
  size_t replyCut = 0;     // when set, only this many bytes of the first replies go out
  int cutReplies = 1000;   // how many replies are cut
  Time firstReplyDelay = milliseconds(50);  // the first reply may come late
  uint8_t status = 0x00;   // the status byte of every reply
  size_t replyExtra = 0;   // surplus bytes after each reply
  std::string length = bytes({0x00, 0x00, 0x01, 0x02});
  std::string firstLength;  // when set, the length in the first reply to 0x34

  void hear(PeerLink& link, uint8_t byte) {
    frame.push_back(static_cast<char>(byte));
    if (frame.size() < 4 || frame.size() < 4U + static_cast<uint8_t>(frame[3])) {
      return;
    }
    const char serial = frame[1];
    const uint8_t command = static_cast<uint8_t>(frame[2]);
    std::string reply = bytes({0x76, serial, command, status, 0x00});
    std::string more;
    if (command == 0x34) {
      reply = bytes({0x76, serial, 0x34, status, 0x04}) + (firstLength.empty() ? length : firstLength);
      firstLength.clear();
    } else if (command == 0x26) {
      for (int i = 0; i < 49; ++i) {
        more.push_back(static_cast<char>('A' + i % 26));
      }
    } else if (command == 0x32) {
      const int count = (static_cast<uint8_t>(frame[12]) << 8) | static_cast<uint8_t>(frame[13]);
      for (int i = 0; i < count; ++i) {
        more.push_back(static_cast<char>(i & 0xFF));
      }
      more += bytes({0x76, serial, 0x32, 0x00, 0x00});
    } else if (command == 0x30) {
      if (frame[4] == 6) {
        reply.push_back(0x00);
      }
      for (int i = 0; i < static_cast<uint8_t>(frame[5]); ++i) {
        more.push_back(static_cast<char>(0xA0 + i));
      }
    }
    reply += std::string(replyExtra, '\x55');
    if (replyCut != 0 && cutReplies-- > 0) {
      reply = reply.substr(0, replyCut);
      more.clear();
    }
    frame.clear();
    link.send(firstReplyDelay, reply);
    firstReplyDelay = milliseconds(50);
    if (!more.empty()) {
      link.send(milliseconds(300), more);
    }
  }
};

Bench cameraBench(const ScriptedCamera& camera = {}) {
  Bench bench;
  auto state = std::make_shared<ScriptedCamera>(camera);
  bench.uart(kCamera).baud(38400).onByte([state](PeerLink& link, uint8_t byte) { state->hear(link, byte); });
  return bench;
}

// 50 MHz, the console for the driver's standard output, the camera link.
void start() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, 0x60);
  UART5_Init();
  IntMasterEnable();
}

TEST(Frames, EachCommandWithItsDataAndByteOrder) {
  const auto run = cameraBench().run(
      [] {
        start();
        uint8_t data[300];
        std::string results;
        results += Lensa_Reset(7) != nullptr ? "1" : "0";
        results += std::to_string(Lensa_FBuffCtrl(7, 0x02));
        results += std::to_string(Lensa_GetFBuffLen(7, 0x00));
        results += std::to_string(Lensa_ReadFBuff(7, 0x00, 0x0A, 0x1234, 258, 0x0102, data));
        results += std::to_string(Lensa_ReadData(7, 2, 3, 0x00123456, data));
        results += std::to_string(Lensa_ReadData(7, 6, 2, 0x89ABCDEF, data));
        results += std::to_string(Lensa_ReadData(7, 1, 1, 0x00001234, data));
        note(results);
      },
      seconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "112581111");
  const std::string expected =
      bytes({0x56, 7, 0x26, 0x00}) + bytes({0x56, 7, 0x36, 0x01, 0x02}) + bytes({0x56, 7, 0x34, 0x01, 0x00}) +
      // Start and length most significant byte first, in 32-bit fields.
      bytes({0x56, 7, 0x32, 0x0C, 0x00, 0x0A, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x01, 0x02, 0x01, 0x02}) +
      // ConfigInfo least significant byte first, as many as the type takes.
      bytes({0x56, 7, 0x30, 0x05, 0x02, 0x03, 0x56, 0x34, 0x12}) +
      bytes({0x56, 7, 0x30, 0x06, 0x06, 0x02, 0xEF, 0xCD, 0xAB, 0x89}) +
      bytes({0x56, 7, 0x30, 0x04, 0x01, 0x01, 0x34, 0x12});
  EXPECT_EQ(run.sent(kCamera), expected);
  EXPECT_EQ(run.sent(kConsole), "ImageSize:3\nImageSize:2\nImageSize:1\n");
}

TEST(Frames, TheLengthIsTheLastFourReplyBytesMostSignificantFirst) {
  ScriptedCamera big;
  big.length = bytes({0x01, 0x00, 0x00, 0x00});
  const auto run = cameraBench(big).run(
      [] {
        start();
        note(std::to_string(Lensa_GetFBuffLen(1, 0)));
      },
      seconds(2));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, std::to_string(1U << 24));
}

TEST(Replies, APartialReplyTimesOutOnceAndItsBytesAreDroppedByTheNextCommand) {
  ScriptedCamera partial;
  partial.replyCut = 3;
  partial.cutReplies = 1;
  const auto run = cameraBench(partial).run(
      [] {
        start();
        const Time before = now();
        const uint8_t first = Lensa_FBuffCtrl(1, 0);
        note(std::to_string(first) + " " + std::to_string(UART5_Available()));
        note(now() - before > kTimeout ? "timed out" : "early");
        // The 3 waiting bytes are no part of the next reply.
        const uint8_t second = Lensa_FBuffCtrl(1, 0);
        note(std::to_string(second) + " " + std::to_string(UART5_Available()));
      },
      seconds(45));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "0 3");
  EXPECT_EQ(run.notes()[1].second, "timed out");
  EXPECT_EQ(run.notes()[2].second, "1 0");
  EXPECT_EQ(run.sent(kConsole), "ReadResponse NULL\n");
}

TEST(Replies, AReplyAfterItsTimeOutIsNotTakenByTheNextCommand) {
  ScriptedCamera slow;
  slow.firstReplyDelay = seconds(21);
  slow.firstLength = bytes({0x00, 0x00, 0x00, 0x01});
  slow.length = bytes({0x00, 0x00, 0x12, 0x34});
  const auto run = cameraBench(slow).run(
      [] {
        start();
        note(std::to_string(Lensa_GetFBuffLen(1, 0)));
        runUntil(seconds(22));
        note(std::to_string(Lensa_GetFBuffLen(1, 0)));
      },
      seconds(25));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 2U);
  EXPECT_EQ(run.notes()[0].second, "0");
  EXPECT_EQ(run.notes()[1].second, "4660");
}

TEST(Replies, AnErrorStatusOrAForeignHeaderIsAFailure) {
  ScriptedCamera refusing;
  refusing.status = 0x03;
  const auto run = cameraBench(refusing).run(
      [] {
        start();
        uint8_t data[16];
        note(std::to_string(Lensa_FBuffCtrl(1, 0)) + std::to_string(Lensa_GetFBuffLen(1, 0)) +
             (Lensa_Reset(1) == nullptr ? "0" : "1") + std::to_string(Lensa_ReadFBuff(1, 0, 0, 0, 4, 0, data)) +
             std::to_string(Lensa_ReadData(1, 1, 2, 0, data)));
      },
      seconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "00000");
  // A reply for another serial number or command is no answer either.
  Bench bench;
  bench.uart(kCamera).baud(38400).reply(bytes({0x56, 1, 0x36, 0x01, 0x00}), bytes({0x76, 2, 0x36, 0x00, 0x00}));
  bench.uart(kCamera).reply(bytes({0x56, 1, 0x34, 0x01, 0x00}), bytes({0x76, 1, 0x36, 0x00, 0x04, 0, 0, 1, 2}));
  const auto foreign = bench.run(
      [] {
        start();
        note(std::to_string(Lensa_FBuffCtrl(1, 0)) + std::to_string(Lensa_GetFBuffLen(1, 0)));
      },
      seconds(2));
  ASSERT_TRUE(foreign.ok()) << foreign.failure();
  EXPECT_EQ(foreign.notes()[0].second, "00");
}

TEST(Replies, AnImageReadTooLargeForTheLinkIsRefusedAtOnce) {
  const auto run = cameraBench().run(
      [] {
        start();
        static uint8_t image[kCameraReceiveBufferSize + 8];
        const Time before = now();
        note(std::to_string(Lensa_ReadFBuff(1, 0, 0, 0, kCameraReceiveBufferSize - 4, 0, image)));
        note(now() - before < milliseconds(1) ? "at once" : "waited");
        note(std::to_string(Lensa_ReadFBuff(1, 0, 0, 0, kCameraReceiveBufferSize - 5, 0, image)));
      },
      seconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 3U);
  EXPECT_EQ(run.notes()[0].second, "0");
  EXPECT_EQ(run.notes()[1].second, "at once");
  // The largest read that fits works, and only it went out.
  EXPECT_EQ(run.notes()[2].second, "1");
  EXPECT_EQ(run.sent(kCamera).size(), 16U);
}

TEST(CameraLink, SetUpLeavesInterruptsAsTheApplicationHasThem) {
  const auto run = Bench{}.run(
      [] {
        (void)IntMasterDisable();
        UART5_Init();
        const bool wereDisabled = IntMasterEnable();
        note(wereDisabled ? "disabled" : "enabled");
      },
      milliseconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "disabled");
}

TEST(Replies, SurplusBytesAreLeftWaiting) {
  ScriptedCamera generous;
  generous.replyExtra = 2;
  const auto run = cameraBench(generous).run(
      [] {
        start();
        note(std::to_string(Lensa_FBuffCtrl(1, 0)));
        runUntil(now() + milliseconds(100));
        note(std::to_string(UART5_Available()));
      },
      seconds(2));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "1");
  EXPECT_EQ(run.notes()[1].second, "2");
}

TEST(Replies, ReadsLargerThan255BytesAndTheResetText) {
  const auto run = cameraBench().run(
      [] {
        start();
        static uint8_t image[1000 + 5];
        const uint8_t ok = Lensa_ReadFBuff(1, 0, 0, 0, 1000, 0, image);
        bool pattern = true;
        for (int i = 0; i < 1000; ++i) {
          pattern = pattern && image[i] == (i & 0xFF);
        }
        note(std::to_string(ok) + (pattern ? " image" : " garbled") + " " + std::to_string(image[1000]));
        const uint8_t* text = Lensa_Reset(1);
        note(text != nullptr ? std::string(reinterpret_cast<const char*>(text), 49) : "none");
        // A zero-length read takes just the five closing bytes.
        const uint8_t closing = Lensa_ReadFBuff(1, 0, 0, 0, 0, 0, image);
        note(std::to_string(closing) + " " + std::to_string(image[0]));
      },
      seconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "1 image 118");
  EXPECT_EQ(run.notes()[1].second, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVW");
  EXPECT_EQ(run.notes()[2].second, "1 118");
}

TEST(Replies, ADeviceTypeOutsideOneToSixSendsNothing) {
  const auto run = cameraBench().run(
      [] {
        start();
        uint8_t data[4];
        const uint8_t below = Lensa_ReadData(1, 0, 4, 0, data);
        const uint8_t above = Lensa_ReadData(1, 7, 4, 0, data);
        note(std::to_string(below) + std::to_string(above));
      },
      seconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "00");
  EXPECT_EQ(run.sent(kCamera), "");
  EXPECT_EQ(run.sent(kConsole), "ImageSize:4\nReadResponse NUll\nImageSize:4\nReadResponse NUll\n");
}

TEST(PrintBits, MostSignificantByteAndBitFirst) {
  const auto run = cameraBench().run(
      [] {
        start();
        const uint16_t value = 258;
        printBits(sizeof value, &value);
        printBits(0, &value);
        const uint32_t word = 0x80000001;
        printBits(sizeof word, &word);
      },
      milliseconds(20));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.sent(kConsole), "0000000100000010\n\n10000000000000000000000000000001\n");
}

TEST(CameraLink, AFullBufferKeepsTheOldestBytesAndCountsTheRest) {
  Bench bench;
  std::string burst;
  for (int i = 0; i < 2100; ++i) {
    burst.push_back(static_cast<char>(i % 251));
  }
  bench.uart(kCamera).baud(38400).send(milliseconds(10), burst);
  const auto run = bench.run(
      [] {
        start();
        runUntil(milliseconds(700));
        uint8_t first[4];
        const uint32_t waiting = UART5_Available();
        UART5_ReadBytes(first, 4);
        note(std::to_string(waiting) + " " + std::to_string(UART5_DroppedBytes()) + " " + std::to_string(first[3]));
      },
      milliseconds(800));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes()[0].second, "2048 52 3");
}

TEST(RingBuffer, WrapsAroundAndNeverOverwrites) {
  uint8_t storage[8];
  struct Buffer buffer = {storage, 0xFFFFFFFC, 0xFFFFFFFC, 8};  // indices about to wrap
  for (uint8_t byte = 0; byte < 10; ++byte) {
    EXPECT_EQ(Buffer_Put(buffer, byte), byte < 8) << int{byte};
  }
  EXPECT_EQ(Buffer_Count(buffer), 8U);
  uint8_t out[10] = {};
  EXPECT_EQ(Buffer_Take(buffer, out, 3), 3U);
  EXPECT_EQ(out[2], 2);
  EXPECT_TRUE(Buffer_Put(buffer, 42));
  EXPECT_EQ(Buffer_Take(buffer, out, 10), 6U);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[4], 7);
  EXPECT_EQ(out[5], 42);
  EXPECT_EQ(Buffer_Count(buffer), 0U);
}

}  // namespace
