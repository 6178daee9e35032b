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

// Each line, then the wait. A script that gives way to the button stops
// before a line when a press waits for the modem, and says so.
enum class OnPress : uint8_t { Finish, GiveWay };

bool sendLines(std::initializer_list<const char*> lines, uint32_t wait, OnPress onPress = OnPress::Finish) {
  for (const char* line : lines) {
    if (onPress == OnPress::GiveWay && pressDeferred) {
      return false;
    }
    sendUartString(UART4_BASE, line);
    waitMilliseconds(wait);
  }
  return true;
}

// The opening of both HTTP scripts: bearer profile 1 over GPRS with the
// operator's access point, opened (the modem takes 1 to 3 s) and queried, and the
// HTTP service on it.
bool openHttp(uint32_t wait, uint32_t bearerWait, OnPress onPress = OnPress::Finish) {
  char msj1[] = "AT\r\n";
  char msj2[] = "AT+SAPBR=3,1,\"CONTYPE\",\"GPRS\"\r\n";
  auto msj3 = kApnCommand;
  char msj4[] = "AT+SAPBR=1,1\r\n";
  char msj5[] = "AT+SAPBR=2,1\r\n";
  char msj6[] = "AT+HTTPINIT\r\n";
  char msj7[] = "AT+HTTPPARA=\"CID\",1\r\n";
  return sendLines({msj1, msj2, msj3.data()}, wait, onPress) && sendLines({msj4}, bearerWait, onPress) &&
         sendLines({msj5, msj6, msj7}, wait, onPress);
}

// A POST's report goes to the server only while the HTTP service lasts: the
// modem answers it in 1 to 10 s, and AT+HTTPTERM earlier drops it.
constexpr uint32_t kPostActionWait = 10000;
// The bearer must be open before the body follows AT+HTTPDATA, or the body
// would meet a modem still busy and be lost.
constexpr uint32_t kPostBearerWait = 3000;

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
  openHttp(300, kPostBearerWait);
  auto msj8 = kPostUrl;
  char msj9[] = "AT+HTTPPARA=\"CONTENT\",\"text/plain\"\r\n";
  char msj10[] = "AT+HTTPDATA=24,10000\r\n";
  char msj11[] = "AT+HTTPACTION=1\r\n";
  char msj12[] = "AT+HTTPTERM\r\n";
  char msj13[] = "AT+SAPBR=0,1\r\n";
  sendLines({msj8.data(), msj9, msj10, data.bytes}, 300);
  sendLines({msj11}, kPostActionWait);
  sendLines({msj12, msj13}, 300);
  lightsOff();
  endModemScript();
}

void getCircleSizeFromServer() {
  beginModemScript();
  auto msj8 = kGetUrl;
  char msj9[] = "AT+HTTPACTION=0\r\n";
  char msj10[] = "AT+HTTPREAD\r\n";
  char msj11[] = "AT+SAPBR=0,1\r\n";
  // The GET holds the modem for 23 s and none of its lines leaves the modem
  // waiting for data: an emergency press cuts it short at the next line, and
  // the call follows as soon as the bearer is closed.
  if (openHttp(2000, 2000, OnPress::GiveWay) && sendLines({msj8.data(), msj9}, 2000, OnPress::GiveWay) &&
      sendLines({msj10}, 3000, OnPress::GiveWay)) {
    sendUartString(UART0_BASE, "read\n");
    sendLines({msj11}, 2000);
  } else {
    sendUartString(UART0_BASE, "circle request given way to the button\n");
    sendUartString(UART4_BASE, msj11);
  }
  endModemScript();
}
