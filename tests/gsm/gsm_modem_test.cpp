// The SMS driver against the SIM900 model, with the modem's echo on as it
// comes up.
#include <gtest/gtest.h>

#include <cstring>

#include "GSM/GSM.h"
#include "GSM/UART.h"
#include "platform/driverlib.h"
#include "sim/peers/sim900.h"
#include "sim/sim.h"

namespace {

using namespace sim;
using peers::CaretakerPhone;
using peers::ModemLog;
using peers::Sim900;

void start() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  UART_Init();
}

TEST(GsmWithModem, InitSendReceiveAndDelete) {
  CaretakerPhone phone;
  phone.texts.push_back({seconds(30), "Come home @120$"});
  Sim900 modem(peers::Sim900Settings::lenient());
  modem.phone(phone);
  Bench bench;
  modem.attach(bench);
  const auto run = bench.run(
      [] {
        start();
        GSM_Init();
        note("init " + std::to_string(GSM_Succeeded()));
        unsigned char number[] = "+905551234567";
        unsigned char text[] = "On my way";
        SMSSend(number, text);
        note("send " + std::to_string(GSM_Succeeded()));
        unsigned char message[kSmsTextSize] = {};
        unsigned char sender[kSenderSize] = {};
        SMSReceive(message, sender);
        note("receive " + std::to_string(GSM_Succeeded()) + " " + reinterpret_cast<char*>(message) + " from " +
             reinterpret_cast<char*>(sender));
      },
      seconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 3U);
  EXPECT_EQ(run.notes()[0].second, "init 1");
  EXPECT_EQ(run.notes()[1].second, "send 1");
  EXPECT_EQ(run.notes()[2].second, "receive 1 Come home @120$ from 905551234567");
  const ModemLog log = ModemLog::from(run);
  // The text went out to the number as given.
  ASSERT_EQ(log.sent.size(), 1U);
  EXPECT_EQ(log.sent[0].to, "+905551234567");
  EXPECT_EQ(log.sent[0].text, "On my way");
  // Read, then deleted: the last command.
  ASSERT_FALSE(log.commands.empty());
  EXPECT_EQ(log.commands.back().line, "AT+CMGD=1\n");
  EXPECT_EQ(log.commands.back().answer, "OK");
  for (const auto& command : log.commands) {
    EXPECT_EQ(command.answer.find("ERROR"), std::string::npos) << command.line;
  }
}

TEST(GsmWithModem, WithoutNetworkTheSendIsReportedAsFailed) {
  Sim900 modem(peers::Sim900Settings::lenient());
  modem.fault(Sim900::Fault::NoNetwork, 0);
  Bench bench;
  modem.attach(bench);
  const auto run = bench.run(
      [] {
        start();
        GSM_Init();
        unsigned char number[] = "+905551234567";
        unsigned char text[] = "Hello";
        SMSSend(number, text);
        note(std::to_string(GSM_Succeeded()));
      },
      seconds(60));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 1U);
  EXPECT_EQ(run.notes()[0].second, "0");
  // Refused: on the record as the module's, in no one's inbox.
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.sent.size(), 1U);
  EXPECT_TRUE(log.sent[0].refused);
  EXPECT_EQ(log.sent[0].text, "Hello");
  EXPECT_TRUE(log.inbox().empty());
}

TEST(GsmWithModem, UnderTheFieldModemSendReachesTheCaretakerARefusalFailsAndReceiveWorks) {
  // Echo on, autobaud, a slow network for the first text, the network
  // refusing texts for the second; the caretaker's text comes at 100 s.
  CaretakerPhone phone;
  phone.texts.push_back({seconds(100), "Come home @120$"});
  peers::Sim900Settings settings = peers::Sim900Settings::field(2);
  settings.timing.registration = seconds(5);
  Sim900 modem(settings);
  modem.phone(phone)
      .fault(Sim900::Fault::SlowNetwork, 0, seconds(40))
      .fault(Sim900::Fault::TextsRefused, seconds(60), seconds(90));
  Bench bench;
  modem.attach(bench);
  const auto run = bench.run(
      [] {
        start();
        GSM_Init();
        note("init " + std::to_string(GSM_Succeeded()));
        runUntil(seconds(20));  // registered by then
        unsigned char number[] = "+905551234567";
        unsigned char first[] = "On my way";
        SMSSend(number, first);
        note("send " + std::to_string(GSM_Succeeded()));
        runUntil(seconds(65));
        unsigned char second[] = "Refused";
        SMSSend(number, second);
        note("send " + std::to_string(GSM_Succeeded()));
        unsigned char message[kSmsTextSize] = {};
        unsigned char sender[kSenderSize] = {};
        SMSReceive(message, sender);
        note("receive " + std::to_string(GSM_Succeeded()) + " " + reinterpret_cast<char*>(message));
      },
      seconds(150));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 4U);
  EXPECT_EQ(run.notes()[0].second, "init 1");
  EXPECT_EQ(run.notes()[1].second, "send 1");
  EXPECT_EQ(run.notes()[2].second, "send 0");
  EXPECT_EQ(run.notes()[3].second, "receive 1 Come home @120$");
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.inbox().size(), 1U);  // the + kept: it reached the caretaker
  EXPECT_EQ(log.inbox()[0].text, "On my way");
}

}  // namespace

