// The waveform of a run, read back by a decoder we did not write: sigrok's
// UART decoder (sigrok-cli) takes the Value Change Dump and must find the
// same bytes on each line that the run recorded.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/driverlib.h"
#include "sim/runner/waveform.h"
#include "sim/sim.h"
#include "tests/sim/sigrok_decode.h"

namespace {

using namespace sim;
using sigrok_decode::decode;


TEST(Waveform, ADecoderFindsTheRunsBytesOnEachLineAndThePinChanges) {
  ASSERT_EQ(access(sigrok_decode::kSigrok, X_OK), 0) << "scripts/deps.sh installs sigrok-cli";
  Bench bench;
  bench.uart(4).baud(9600).send(milliseconds(2), std::string("\r\nRING\r\n\0\xFF", 10));
  bench.press(PF4, milliseconds(5), milliseconds(3));
  const auto run = bench.run(
      [] {
        SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOC);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
        GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
        GPIOPinConfigure(GPIO_PA0_U0RX);
        GPIOPinConfigure(GPIO_PA1_U0TX);
        GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
        GPIOPinConfigure(GPIO_PC4_U4RX);
        GPIOPinConfigure(GPIO_PC5_U4TX);
        GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_1);
        const uint32_t frame = UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE;
        UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, frame);
        UARTConfigSetExpClk(UART4_BASE, SysCtlClockGet(), 9600, frame);
        for (char byte : std::string("Hello \x01\x80\xFF\n", 10)) {
          UARTCharPut(UART0_BASE, static_cast<unsigned char>(byte));
        }
        for (char byte : std::string("AT\r\n")) {
          UARTCharPut(UART4_BASE, static_cast<unsigned char>(byte));
        }
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, GPIO_PIN_1);
        runUntil(milliseconds(10));
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, 0);
        runUntil(milliseconds(30));
        while (UARTCharsAvail(UART4_BASE)) {
          (void)UARTCharGetNonBlocking(UART4_BASE);
        }
      },
      milliseconds(40));
  ASSERT_TRUE(run.ok()) << run.failure();

  std::string pattern = (std::filesystem::temp_directory_path() / "waveform-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(pattern.data());
  const std::string vcd = (folder / "run.vcd").string();
  {
    std::ofstream file(vcd);
    writeWaveform(file, run, {{{0, 115200}, {4, 9600}}, bench.pinChanges()});
  }
  EXPECT_EQ(decode(vcd, "UART0_TX", 115200), run.sent(0));
  EXPECT_EQ(run.sent(0), std::string("Hello \x01\x80\xFF\n", 10));
  EXPECT_EQ(decode(vcd, "UART4_TX", 9600), "AT\r\n");
  EXPECT_EQ(decode(vcd, "UART4_RX", 9600), std::string("\r\nRING\r\n\0\xFF", 10));

  // The pins: PF1 up at about 1.2 ms and down at 10 ms, the button down at
  // 5 ms and up 3 ms later.
  std::ifstream file(vcd);
  std::stringstream text;
  text << file.rdbuf();
  const std::string dump = text.str();
  // Identifiers are the writer's own: each pin's is read from its $var line.
  const auto id = [](const std::string& vcd, const std::string& name) {
    const size_t at = vcd.find(" " + name + " $end");
    return at == std::string::npos || at < 1 ? std::string("?") : vcd.substr(at - 1, 1);
  };
  const std::string led = id(dump, "PF1");
  const std::string button = id(dump, "PF4");
  EXPECT_NE(dump.find("$var wire 1 " + led + " PF1 $end"), std::string::npos) << dump.substr(0, 400);
  EXPECT_LT(dump.find(" PF4 $end"), dump.find(" UART0_TX $end")) << "pins first";
  EXPECT_NE(dump.find("#5000000\n0" + button + "\n"), std::string::npos);
  EXPECT_NE(dump.find("#8000000\n1" + button + "\n"), std::string::npos);
  EXPECT_NE(dump.find("#10000000\n0" + led + "\n"), std::string::npos);
  // At a 1 us step, a sixth of a bit at 115 200 baud, every line still
  // decodes and the pins change at the same times, in microseconds.
  {
    std::ofstream coarse(folder / "coarse.vcd");
    writeWaveform(coarse, run, {{{0, 115200}, {4, 9600}}, bench.pinChanges(), "coarse", 1000});
  }
  const std::string coarse = (folder / "coarse.vcd").string();
  EXPECT_EQ(decode(coarse, "UART0_TX", 115200), run.sent(0));
  EXPECT_EQ(decode(coarse, "UART4_RX", 9600), std::string("\r\nRING\r\n\0\xFF", 10));
  std::ifstream coarseFile(coarse);
  std::stringstream coarseText;
  coarseText << coarseFile.rdbuf();
  EXPECT_NE(coarseText.str().find("$timescale 1us $end"), std::string::npos);
  EXPECT_NE(coarseText.str().find("#5000\n0" + id(coarseText.str(), "PF4") + "\n"), std::string::npos);
  EXPECT_LT(coarseText.str().size(), dump.size());
  std::filesystem::remove_all(folder);
}

}  // namespace
