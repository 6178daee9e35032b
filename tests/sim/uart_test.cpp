// UART timing, FIFOs and receive interrupts, driven through the driver layer.
#include <gtest/gtest.h>

#include "platform/driverlib.h"
#include "sim/sim.h"

namespace {

using namespace sim;

constexpr uint32_t kFrame8N1 = UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE;

void clockAt50MHz() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
}

// UART4 on PC4/PC5, as the modem link is wired.
void uart4At(uint32_t baud) {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOC);
  GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinConfigure(GPIO_PC4_U4RX);
  GPIOPinConfigure(GPIO_PC5_U4TX);
  UARTConfigSetExpClk(UART4_BASE, SysCtlClockGet(), baud, kFrame8N1);
}

// 50 MHz: divisor = round(50e6 * 4 / baud) 64ths of 16 clocks.
constexpr Time kBit9600 = 104165000;    // 20833 / 64 * 16 clocks of 20 ns
constexpr Time kBit115200 = 8680000;    // 1736 / 64 * 16 clocks

TEST(UartTiming, BytesTakeTenBitTimesBackToBack) {
  for (const auto& [baud, bit] : {std::pair<uint32_t, Time>{9600, kBit9600}, {115200, kBit115200}}) {
    Bench bench;
    const auto run = bench.run(
        [baud = baud] {
          clockAt50MHz();
          uart4At(baud);
          note("start");
          for (char c : std::string("ABC")) {
            UARTCharPut(UART4_BASE, static_cast<unsigned char>(c));
          }
        },
        milliseconds(20));
    ASSERT_TRUE(run.ok()) << run.failure();
    const auto bytes = run.sentBytes(4);
    ASSERT_EQ(bytes.size(), 3U) << baud;
    EXPECT_EQ(run.sent(4), "ABC");
    EXPECT_EQ(bytes[1].time - bytes[0].time, 10 * bit) << baud;
    EXPECT_EQ(bytes[2].time - bytes[1].time, 10 * bit) << baud;
    // The first byte starts with the data write: one FR read and the write
    // itself after the note, 4 cycles each at 20 ns.
    const Time start = run.notes().at(0).first;
    EXPECT_EQ(bytes[0].time - start, 10 * bit + 4 * 20000) << baud;
  }
}

TEST(UartTiming, WithFifosOffOnlyTheHoldingRegisterWaits) {
  Bench bench;
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        UARTFIFODisable(UART4_BASE);
        // Shift register and holding register: two accepted, the third refused.
        note(UARTCharPutNonBlocking(UART4_BASE, '1') ? "accepted" : "refused");
        note(UARTCharPutNonBlocking(UART4_BASE, '2') ? "accepted" : "refused");
        note(UARTCharPutNonBlocking(UART4_BASE, '3') ? "accepted" : "refused");
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto notes = run.notes();
  ASSERT_EQ(notes.size(), 3U);
  EXPECT_EQ(notes[0].second, "accepted");
  EXPECT_EQ(notes[1].second, "accepted");
  EXPECT_EQ(notes[2].second, "refused");
  EXPECT_EQ(run.sent(4), "12");
}

TEST(UartTiming, PollingSendOfAFullFifoKeepsLinePace) {
  Bench bench;
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        for (int i = 0; i < 40; ++i) {
          UARTCharPut(UART4_BASE, static_cast<unsigned char>('a' + i % 26));
        }
      },
      milliseconds(100));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto bytes = run.sentBytes(4);
  ASSERT_EQ(bytes.size(), 40U);
  for (size_t i = 1; i < bytes.size(); ++i) {
    EXPECT_EQ(bytes[i].time - bytes[i - 1].time, 10 * kBit9600) << i;
  }
}

int receiveRuns = 0;
void countReceive() {
  ++receiveRuns;
  note("rx " + std::to_string(UARTIntStatus(UART4_BASE, true)));
  while (UARTCharsAvail(UART4_BASE)) {
    (void)UARTCharGetNonBlocking(UART4_BASE);
  }
  UARTIntClear(UART4_BASE, UART_INT_RX | UART_INT_RT);
}

TEST(UartReceive, InterruptComesWithTheEighthByteNotBefore) {
  Bench bench;
  bench.uart(4).send(milliseconds(5), "12345678");
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        UARTIntEnable(UART4_BASE, UART_INT_RX);
        UARTIntRegister(UART4_BASE, countReceive);
        IntMasterEnable();
      },
      milliseconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto entries = run.interrupts(INT_UART4);
  ASSERT_EQ(entries.size(), 1U);
  // Byte n ends n frames after the burst starts.
  EXPECT_EQ(entries[0], milliseconds(5) + 8 * 10 * kBit9600);
  EXPECT_EQ(run.received(4), "12345678");
}

TEST(UartReceive, SevenBytesWaitUntilTheTimeoutWhenItIsEnabled) {
  for (bool timeout : {false, true}) {
    Bench bench;
    bench.uart(4).send(milliseconds(5), "1234567");
    const auto run = bench.run(
        [timeout] {
          clockAt50MHz();
          uart4At(9600);
          UARTIntEnable(UART4_BASE, UART_INT_RX | (timeout ? UART_INT_RT : 0));
          UARTIntRegister(UART4_BASE, countReceive);
          IntMasterEnable();
        },
        milliseconds(30));
    ASSERT_TRUE(run.ok()) << run.failure();
    const auto entries = run.interrupts(INT_UART4);
    if (!timeout) {
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0], milliseconds(5) + 7 * 10 * kBit9600 + 32 * kBit9600);
    EXPECT_EQ(run.notes().at(0).second, "rx " + std::to_string(UART_INT_RT));
  }
}

TEST(UartReceive, TheSeventeenthByteIntoAFullFifoIsLost) {
  Bench bench;
  bench.uart(4).send(milliseconds(1), "ABCDEFGHIJKLMNOPQR");
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        runUntil(milliseconds(40));
        std::string got;
        while (UARTCharsAvail(UART4_BASE)) {
          got.push_back(static_cast<char>(UARTCharGetNonBlocking(UART4_BASE)));
        }
        note(got);
      },
      milliseconds(50));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes().at(0).second, "ABCDEFGHIJKLMNOP");
  const auto lost = run.lost(4);
  ASSERT_EQ(lost.size(), 2U);
  EXPECT_EQ(lost[0].byte, 'Q');
  EXPECT_EQ(lost[1].byte, 'R');
  EXPECT_EQ(lost[0].time, milliseconds(1) + 17 * 10 * kBit9600);
}

TEST(UartReceive, BytesReachingADisabledReceiverAreLost) {
  Bench bench;
  bench.uart(4).send(milliseconds(2), std::string("x\r\xFF\\", 4));
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        UARTDisable(UART4_BASE);
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4), "");
  EXPECT_EQ(run.lost(4).size(), 4U);
  // Bytes are shown one way: as themselves, or \r, \n and \xhh.
  for (const char* line : {"lost 78 'x' receiver-off", "lost 0D '\\r' receiver-off", "lost FF '\\xff' receiver-off",
                           "lost 5C '\\x5c' receiver-off"}) {
    EXPECT_NE(run.text().find(line), std::string::npos) << line << "\n" << run.text();
  }
}

TEST(UartReceive, APeerAtAnotherRateIsMisread) {
  Bench bench;
  bench.uart(4).baud(19200).send(milliseconds(2), "z");
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        runUntil(milliseconds(5));
        note(std::to_string(UARTCharGetNonBlocking(UART4_BASE)));
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  // The framing-error bit (bit 8) comes with the data.
  EXPECT_EQ(run.notes().at(0).second, std::to_string(0x100 | 'z'));
}

// A script is not written in time order (a GPS's odd bytes come after its
// sentences); its sends still go out in time order, ties as written.
TEST(UartPeers, ScriptedSendsGoOutInTimeOrder) {
  Bench bench;
  bench.uart(4).send(milliseconds(10), "C").send(milliseconds(2), "A").send(milliseconds(2), "B");
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
      },
      milliseconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4), "ABC");
}

TEST(UartPeers, ScriptedRepliesAnswerWhatTheChipSent) {
  Bench bench;
  bench.uart(4).reply("AT\r\n", "OK\r\n", milliseconds(3));
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        uart4At(9600);
        for (char c : std::string("AT\r\n")) {
          UARTCharPut(UART4_BASE, static_cast<unsigned char>(c));
        }
        runUntil(milliseconds(20));
        std::string got;
        while (UARTCharsAvail(UART4_BASE)) {
          got.push_back(static_cast<char>(UARTCharGet(UART4_BASE)));
        }
        note(got);
      },
      milliseconds(30));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.notes().at(0).second, "OK\r\n");
  EXPECT_EQ(run.received(4), "OK\r\n");
}

}  // namespace
