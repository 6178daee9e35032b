// Position reports: the record as an SMS or an HTTP POST, and the radius by
// HTTP GET.
#include <initializer_list>

#include "platform/driverlib.h"
#include "tracker/commands.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

// The report record: 9 + "," + 9 + "," + 2 + CR LF, and a terminator for
// sendUartString. A text shorter than its field is padded with blanks, so
// the record is always the 24 bytes that the HTTP script announces.
struct Record {
  char bytes[25];
};

void copyField(char* to, const char* from, size_t width) {
  size_t index = 0;
  for (; index < width && from[index] != '\0'; ++index) {
    to[index] = from[index];
  }
  for (; index < width; ++index) {
    to[index] = ' ';
  }
}

Record buildRecord(const char* lat, const char* lon, const char* pulse) {
  Record data{};
  copyField(data.bytes, lat, 9);
  data.bytes[9] = ',';
  copyField(data.bytes + 10, lon, 9);
  data.bytes[19] = ',';
  copyField(data.bytes + 20, pulse, 2);
  data.bytes[22] = '\r';
  data.bytes[23] = '\n';
  data.bytes[24] = '\0';
  return data;
}

void traceReport(const char* lat, const char* lon, const char* pulse) {
  sendUartString(UART0_BASE, "postFunct\n");
  sendUartString(UART0_BASE, "lat:");
  sendUartString(UART0_BASE, lat);
  sendUartString(UART0_BASE, "lon:");
  sendUartString(UART0_BASE, lon);
  sendUartString(UART0_BASE, "pulse:");
  sendUartString(UART0_BASE, pulse);
  sendUartString(UART0_BASE, "\n");
}

void lightWhite() {
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_3, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, GPIO_PIN_1);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_3, GPIO_PIN_3);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
}

void lightsOff() {
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_3, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
}

// Each line, then its answer: the next line goes once the modem has
// answered, or after wait at the most. A script that gives way to the button
// stops before a line, or while it waits, when a press waits for the modem.
enum class OnPress : uint8_t { Finish, GiveWay };
enum class Sent : uint8_t { Answered, Refused, Unanswered, GaveWay };

constexpr uint32_t kAnswerWait = 2000;     // a plain command's answer, at the most
constexpr uint32_t kBearerWait = 35000;    // the bearer: 1 to 3 s, 30 s on a slow network
constexpr uint32_t kActionWait = 65000;    // an HTTP action's result: 1 to 10 s, a minute at worst

// Waits for the line's answer (or, for an HTTP action, its result); a
// script that gives way stops waiting when a press waits for the modem.
Sent awaitAnswer(uint32_t wait, OnPress onPress, bool action = false) {
  const bool orPress = onPress == OnPress::GiveWay;
  if (action) {
    if (awaitHttpAction(wait, orPress)) {
      return Sent::Answered;
    }
  } else if (const ModemAnswer answer = awaitModemAnswer(wait, orPress); answer != ModemAnswer::None) {
    return answer == ModemAnswer::Error ? Sent::Refused : Sent::Answered;
  }
  return orPress && pressDeferred ? Sent::GaveWay : Sent::Unanswered;
}

Sent sendLine(const char* line, uint32_t wait, OnPress onPress = OnPress::Finish) {
  if (onPress == OnPress::GiveWay && pressDeferred) {
    return Sent::GaveWay;
  }
  expectModemAnswer();
  sendUartString(UART4_BASE, line);
  return awaitAnswer(wait, onPress);
}

// The lines in order while each is answered; the first that is not ends it.
Sent sendLines(std::initializer_list<const char*> lines, uint32_t wait, OnPress onPress = OnPress::Finish) {
  for (const char* line : lines) {
    const Sent sent = sendLine(line, wait, onPress);
    if (sent != Sent::Answered) {
      return sent;
    }
  }
  return Sent::Answered;
}

// The opening of both HTTP scripts: bearer profile 1 over GPRS with the
// operator's access point, opened and queried, and the HTTP service on it
// (an HTTPINIT refused because the service is still up is no failure).
Sent openHttp(OnPress onPress = OnPress::Finish) {
  char msj2[] = "AT+SAPBR=3,1,\"CONTYPE\",\"GPRS\"\r\n";
  auto msj3 = kApnCommand;
  char msj4[] = "AT+SAPBR=1,1\r\n";
  char msj5[] = "AT+SAPBR=2,1\r\n";
  char msj6[] = "AT+HTTPINIT\r\n";
  char msj7[] = "AT+HTTPPARA=\"CID\",1\r\n";
  // AT until the modem is free: it may still be sending the report's text.
  Sent sent = Sent::Answered;
  if (!modemAnswersAttention(onPress == OnPress::GiveWay)) {
    sent = pressDeferred && onPress == OnPress::GiveWay ? Sent::GaveWay : Sent::Unanswered;
  }
  if (sent == Sent::Answered) {
    sent = sendLines({msj2, msj3.data()}, kAnswerWait, onPress);
  }
  if (sent == Sent::Answered) {
    sent = sendLine(msj4, kBearerWait, onPress);
  }
  if (sent == Sent::Answered) {
    sent = sendLines({msj5}, kAnswerWait, onPress);
  }
  if (sent == Sent::Answered && sendLine(msj6, kAnswerWait, onPress) != Sent::GaveWay) {
    sent = sendLines({msj7}, kAnswerWait, onPress);
  }
  if (kSendsServerKey && sent == Sent::Answered) {
    auto key = kServerKeyCommand;
    sent = sendLines({key.data()}, kAnswerWait, onPress);
  }
  if (sent == Sent::Refused || sent == Sent::Unanswered) {
    sendUartString(UART0_BASE, "bearer not open\n");
  }
  return sent;
}

// The HTTP action, and its result: the answer is read, and the service
// ended, only once the modem has it.
Sent runAction(const char* line, OnPress onPress = OnPress::Finish) {
  const Sent sent = sendLine(line, kAnswerWait, onPress);
  if (sent != Sent::Answered) {
    return sent;
  }
  return awaitAnswer(kActionWait, onPress, true);
}

}  // namespace

void postDataToInterface(const char* lat, const char* lon, const char* pulse) {
  beginModemScript();
  traceReport(lat, lon, pulse);
  lightWhite();
  Record data = buildRecord(lat, lon, pulse);
  sendSmsScript(data.bytes);
  receiveSmsScript();
  lightsOff();
  char msj3[] = "AT\r\n";
  sendUartString(UART4_BASE, msj3);
  endModemScript();
}

void postDataToServer(const char* lat, const char* lon, const char* pulse) {
  beginModemScript();
  traceReport(lat, lon, pulse);
  lightWhite();
  Record data = buildRecord(lat, lon, pulse);
  auto msj8 = kPostUrl;
  char msj9[] = "AT+HTTPPARA=\"CONTENT\",\"text/plain\"\r\n";
  // CR alone: an LF after it may reach the modem before its DOWNLOAD prompt
  // and become the body's first byte.
  char msj10[] = "AT+HTTPDATA=24,10000\r";
  char msj11[] = "AT+HTTPACTION=1\r\n";
  char msj12[] = "AT+HTTPTERM\r\n";
  char msj13[] = "AT+SAPBR=0,1\r\n";
  if (openHttp() == Sent::Answered && sendLines({msj8.data(), msj9, msj10, data.bytes}, kAnswerWait) == Sent::Answered &&
      runAction(msj11) != Sent::Answered) {
    sendUartString(UART0_BASE, "no answer to the report\n");
  }
  (void)sendLines({msj12}, kAnswerWait);
  (void)sendLines({msj13}, kAnswerWait);
  lightsOff();
  endModemScript();
}

void getCircleSizeFromServer() {
  beginModemScript();
  auto msj8 = kGetUrl;
  char msj9[] = "AT+HTTPACTION=0\r\n";
  char msj10[] = "AT+HTTPREAD\r\n";
  char msj11[] = "AT+SAPBR=0,1\r\n";
  // The GET holds the modem while the network answers (1 to 10 s); an
  // emergency press cuts it short at its next line or wait, and the call
  // follows as soon as the bearer is closed. The answer is read only once
  // the modem has it.
  Sent sent = openHttp(OnPress::GiveWay);
  if (sent == Sent::Answered) {
    sent = sendLines({msj8.data()}, kAnswerWait, OnPress::GiveWay);
  }
  if (sent == Sent::Answered) {
    sent = runAction(msj9, OnPress::GiveWay);
  }
  if (sent == Sent::Answered) {
    sent = sendLines({msj10}, 3000, OnPress::GiveWay);
  }
  if (sent == Sent::GaveWay) {
    sendUartString(UART0_BASE, "circle request given way to the button\n");
  } else if (sent == Sent::Answered) {
    sendUartString(UART0_BASE, "read\n");
  }
  (void)sendLines({msj11}, kAnswerWait);
  endModemScript();
}
