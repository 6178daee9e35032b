// The SIM900 model, spoken to through the chip's UART4 as a firmware would.
// The expected answers are the modem's own texts, as its AT manual frames
// them.
#include <gtest/gtest.h>

#include "tests/sim/sim900_talk.h"

namespace {

using namespace sim;
using peers::CaretakerPhone;
using peers::ModemLog;
using peers::Sim900;
using peers::Sim900Settings;

using sim900_talk::talk;

TEST(Sim900, EchoResultCodesAndTheCommandLine) {
  const auto run = talk(Sim900(Sim900Settings::lenient()), {{0, "AT\r"}, {seconds(1), "at + cmgf = 1\r\n"}, {seconds(2), "AT+CMGF?\r"},
                                   {seconds(3), "AT+NOSUCH\r"}, {seconds(4), "ATE0\r"}, {seconds(5), "AT\r"}},
                        seconds(6));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4),
            "AT\r\r\nOK\r\n"
            "at + cmgf = 1\r\n\r\nOK\r\n"
            "AT+CMGF?\r\r\n+CMGF: 1\r\n\r\nOK\r\n"
            "AT+NOSUCH\r\r\nERROR\r\n"
            "ATE0\r\r\nOK\r\n"
            "\r\nOK\r\n");
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.commands.size(), 6U);
  EXPECT_EQ(log.commands[1].line, "at + cmgf = 1");
  EXPECT_EQ(log.commands[3].answer, "ERROR");
}

}  // namespace

namespace {

TEST(Sim900, ATextGoesOutAfterThePromptAndTheNetworksWait) {
  const auto run = talk(Sim900(Sim900Settings::lenient()).echo(false),
                        {{0, "AT+CMGS=\"+905551234567\"\r"},  // text mode not selected yet
                         {seconds(1), "AT+CMGF=1\r"},
                         {seconds(2), "AT + CMGS = \"+905551234567\"\r\n"},
                         {seconds(3), std::string("41.015137,28.979530,72\r\n") + '\x1A'},
                         {seconds(4), "AT\r"},  // waits for the text's result
                         {seconds(10), "AT+CMGS=\"+905551234567\"\r"},
                         {seconds(11), "never sent\x1B"}},
                        seconds(15));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4),
            "\r\nERROR\r\n"
            "\r\nOK\r\n"
            "\r\n> "
            "\r\n+CMGS: 1\r\n\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\n> "
            "\r\nOK\r\n");
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.sent.size(), 1U);
  EXPECT_EQ(log.sent[0].to, "+905551234567");
  EXPECT_EQ(log.sent[0].text, "41.015137,28.979530,72\r\n");
  // 2 to 5 s on the network: 3 s by default, from the Ctrl-Z.
  EXPECT_NEAR(static_cast<double>(log.sent[0].at), 6.026e12, 0.01e12);
}

TEST(Sim900, CallsToAndFromTheCaretakersPhone) {
  CaretakerPhone phone;
  phone.answerAfterRings = 2;
  phone.calls.push_back({seconds(15), seconds(5), std::nullopt});  // while the module's own call is up
  phone.calls.push_back({seconds(40), seconds(20), seconds(10)});
  phone.calls.push_back({seconds(70), seconds(7), std::nullopt});
  Sim900 modem(Sim900Settings::lenient());
  modem.echo(false).phone(phone);
  const auto run = talk(modem,
                        {{0, "ATD+905551234567;\r"},  // answered after 2 rings
                         {seconds(20), "ATH\r"},
                         {seconds(25), "ATD+ +905551234567;\r"},  // no such number
                         {seconds(30), "ATD+905550000000;\r"},
                         {seconds(46), "ATA\r"}},
                        seconds(85));
  ASSERT_TRUE(run.ok()) << run.failure();
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.calls.size(), 5U);
  EXPECT_TRUE(log.calls[0].outgoing);
  EXPECT_EQ(log.calls[0].number, "+905551234567");
  EXPECT_NEAR(static_cast<double>(log.calls[0].answered), 9e12, 0.1e12);  // 3 s set-up, 2 rings
  EXPECT_EQ(log.calls[0].outcome, "talked");
  EXPECT_NEAR(static_cast<double>(log.calls[0].end), 20e12, 0.1e12);  // the ATH, not the call that rang meanwhile
  EXPECT_EQ(log.calls[1].outcome, "unreachable");
  EXPECT_EQ(log.calls[2].outcome, "failed");  // a number the network does not know
  EXPECT_FALSE(log.calls[3].outgoing);
  EXPECT_EQ(log.calls[3].outcome, "talked");  // answered at 46 s, the caretaker hung up 10 s later
  EXPECT_NEAR(static_cast<double>(log.calls[3].end - log.calls[3].answered), 10e12, 0.1e12);
  EXPECT_EQ(log.calls[4].outcome, "missed");
  // The double plus is no dial string the modem takes.
  ASSERT_GE(log.commands.size(), 4U);
  EXPECT_EQ(log.commands[2].line, "ATD+ +905551234567;");
  EXPECT_EQ(log.commands[2].answer, "ERROR");
  const std::string heard = run.received(4);
  // RING every 3 s while the call comes in: 40, 43 and 46 s.
  EXPECT_EQ(heard.find("\r\nOK\r\n\r\nOK\r\n\r\nERROR\r\n\r\nNO CARRIER\r\n\r\nRING\r\n\r\nRING\r\n\r\nRING\r\n\r\nOK\r\n"
                       "\r\nNO CARRIER\r\n\r\nRING\r\n\r\nRING\r\n\r\nRING\r\n\r\nNO CARRIER\r\n"),
            0U)
      << heard;
}

TEST(Sim900, TextsFromThePhoneStoredOrStraightToTheLine) {
  CaretakerPhone phone;
  phone.texts.push_back({seconds(1), "@300$"});
  phone.texts.push_back({seconds(20), "BRING A COAT"});
  Sim900 modem(Sim900Settings::lenient());
  modem.echo(false).phone(phone);
  const auto run = talk(modem,
                        {{seconds(5), "AT+CMGF=1;+CPMS=\"SM\";+CMGR=1\n\r"},
                         {seconds(6), "AT+CMGD=1\r"},
                         {seconds(7), "AT+CMGR=1\r"},
                         {seconds(10), "AT+CNMI=1,2,0,0,0\r"}},
                        seconds(25));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4),
            "\r\n+CMTI: \"SM\",1\r\n"
            "\r\n+CPMS: 1,30,1,30,1,30\r\n"
            "\r\n+CMGR: \"REC UNREAD\",\"+905551234567\",\"\",\"26/12/08,10:00:03+12\"\r\n@300$\r\n\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\n+CMT: \"+905551234567\",\"\",\"26/12/08,10:00:22+12\"\r\nBRING A COAT\r\n");
  EXPECT_EQ(ModemLog::from(run).received.size(), 2U);
}

TEST(Sim900, HttpOverTheBearerToAHandler) {
  Sim900 modem(Sim900Settings::lenient());
  // The POST's answer is the header lines the modem was given to add.
  modem.echo(false).http([](const peers::HttpRequest& request) {
    return peers::HttpResponse{200, request.method == "GET" ? "@250$" : request.userData};
  });
  const auto run = talk(modem,
                        {{0, "AT+HTTPACTION=0\r"},  // no service yet
                         {seconds(1), "AT+SAPBR=3,1,\"CONTYPE\",\"GPRS\"\r\n"},
                         {seconds(2), "AT+SAPBR=1,1\r\n"},
                         {seconds(5), "AT+SAPBR=2,1\r\n"},
                         {seconds(6), "AT+HTTPINIT\r\n"},
                         {seconds(7), "AT+HTTPINIT\r\n"},
                         {seconds(8), "AT+HTTPPARA=\"URL\",\"http://203.0.113.10:5000/postData\"\r\n"},
                         {seconds(8) + milliseconds(500), "AT+HTTPPARA=\"USERDATA\",\"X-Tracker-Key: k\"\r\n"},
                         {seconds(9), "AT+HTTPDATA=24,10000\r\n"},
                         {seconds(10), "41.015137,28.979530,72\r\n"},
                         {seconds(11), "AT+HTTPACTION=1\r\n"},
                         {seconds(14), "AT+HTTPREAD\r\n"},
                         {seconds(15), "AT+HTTPPARA=\"URL\",\"http://203.0.113.10:5000/getCircle\"\r\n"},
                         {seconds(16), "AT+HTTPACTION=0\r\n"},
                         {seconds(16) + milliseconds(300), "AT+HTTPTERM\r\n"},  // before the answer
                         {seconds(20), "AT+SAPBR=0,1\r\n"},
                         {seconds(21), "AT+SAPBR=0,1\r\n"}},
                        seconds(25));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4),
            "\r\nERROR\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\n+SAPBR: 1,1,\"10.145.23.7\"\r\n\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nERROR\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nDOWNLOAD\r\n\r\nOK\r\n"
            "\r\nOK\r\n\r\n+HTTPACTION:1,200,16\r\n"
            "\r\n+HTTPREAD:16\r\nX-Tracker-Key: k\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nERROR\r\n");
  const ModemLog log = ModemLog::from(run);
  ASSERT_EQ(log.http.size(), 1U);  // the GET was given up by HTTPTERM
  EXPECT_EQ(log.http[0].request.method, "POST");
  EXPECT_EQ(log.http[0].request.url, "http://203.0.113.10:5000/postData");
  EXPECT_EQ(log.http[0].request.contentType, "text/plain");
  EXPECT_EQ(log.http[0].request.body, "41.015137,28.979530,72\r\n");
}

TEST(Sim900, HttpDataTakesTheManualsSizesAndTimesOnly) {
  // Found by fuzzing: a time of 100000001 ms kept the model in data mode
  // for a day and more, deaf to every command.
  Sim900 modem(Sim900Settings::lenient());
  modem.echo(false);
  const auto run = talk(modem,
                        {{0, "AT+HTTPINIT\r"},
                         {seconds(1), "AT+HTTPDATA=24,100000001\r"},
                         {seconds(2), "AT+HTTPDATA=24,999\r"},
                         {seconds(3), "AT+HTTPDATA=0,10000\r"},
                         {seconds(4), "AT+HTTPDATA=319489,10000\r"},
                         {seconds(5), "AT+HTTPDATA=24,1000\r"},
                         {seconds(7), "AT\r"},
                         {seconds(8), "AT+HTTPDATA=319488,120000\r"}},
                        seconds(9));
  ASSERT_TRUE(run.ok()) << run.failure();
  // The 1-s window passes with nothing sent: OK, and AT is a command again.
  EXPECT_EQ(run.received(4),
            "\r\nOK\r\n"
            "\r\nERROR\r\n\r\nERROR\r\n\r\nERROR\r\n\r\nERROR\r\n"
            "\r\nDOWNLOAD\r\n\r\nOK\r\n"
            "\r\nOK\r\n"
            "\r\nDOWNLOAD\r\n");
}

TEST(Sim900, FaultsTheTestSwitchesOn) {
  Sim900 modem(Sim900Settings::lenient());
  modem.echo(false)
      .http([](const peers::HttpRequest&) { return peers::HttpResponse{200, "@1$"}; })
      .fault(Sim900::Fault::NoNetwork, 0, seconds(10))
      .fault(Sim900::Fault::ServerUnreachable, seconds(10), seconds(20))
      .fault(Sim900::Fault::BearerDropped, seconds(22))
      .fault(Sim900::Fault::PowerLoss, seconds(30), seconds(40));
  const auto run = talk(modem,
                        {{0, "ATD+905551234567;\r"},
                         {seconds(4), "AT+SAPBR=1,1\r"},
                         {seconds(7), "AT+CMGF=1\r"},
                         {seconds(8), "AT+CMGS=\"+905551234567\"\r"},
                         {seconds(9), "x\x1A"},
                         {seconds(12), "AT+SAPBR=1,1\r"},
                         {seconds(15), "AT+HTTPINIT\r"},
                         {seconds(16), "AT+HTTPACTION=0\r"},
                         {seconds(31), "AT\r"},
                         {seconds(45), "AT\r"}},
                        seconds(50));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(run.received(4),
            "\r\nNO CARRIER\r\n"          // no network for the call
            "\r\nERROR\r\n"               // nor for the bearer
            "\r\nOK\r\n"
            "\r\n> \r\n+CMS ERROR: 331\r\n"  // nor for the text
            "\r\nOK\r\n"                  // the bearer, once the network is back
            "\r\nOK\r\n"
            "\r\nOK\r\n\r\n+HTTPACTION:0,601,0\r\n"  // the server out of reach
            "\r\n+SAPBR 1: DEACT\r\n"     // the network drops the bearer
            "\r\nCall Ready\r\n"          // nothing while the power is off
            "\r\nOK\r\n");
}

}  // namespace
