// SMS: the geofence alert, and direct delivery of received messages.
#include "platform/driverlib.h"
#include "tracker/commands.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace tracker {

void receiveSmsScript() {
  char msj1[] = "AT+CMGF=1\r";
  sendUartString(UART4_BASE, msj1);
  waitMilliseconds(100);
  char msj2[] = "AT+CNMI=1,2,0,0,0\r";
  sendUartString(UART4_BASE, msj2);
  waitMilliseconds(100);
}

void sendSmsScript(const char* body) {
  char msj1[] = "AT+CMGF=1\r";
  sendUartString(UART4_BASE, msj1);
  waitMilliseconds(1000);
  auto msj2 = kSmsSendCommand;
  sendUartString(UART4_BASE, msj2.data());
  waitMilliseconds(1000);
  sendUartString(UART4_BASE, body);
  waitMilliseconds(1000);
  // Each group follows a 1 s wait, in which the transmit FIFO has emptied.
  UARTCharPutNonBlocking(UART4_BASE, 0x1A);
  UARTCharPutNonBlocking(UART4_BASE, '\r');
  UARTCharPutNonBlocking(UART4_BASE, '\n');
  waitMilliseconds(1000);
  UARTCharPutNonBlocking(UART4_BASE, '\r');
  UARTCharPutNonBlocking(UART4_BASE, '\n');
}

}  // namespace tracker

void sendSms() {
  beginModemScript();
  char msj3[] = "The target went beyond the limits.\r";
  sendSmsScript(msj3);
  endModemScript();
}

void receiveSms() {
  beginModemScript();
  receiveSmsScript();
  endModemScript();
}
