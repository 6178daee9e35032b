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
  waitTakingModemLines(100);
  char msj2[] = "AT+CNMI=1,2,0,0,0\r";
  sendUartString(UART4_BASE, msj2);
  waitTakingModemLines(100);
}

void sendSmsScript(const char* body) {
  char msj1[] = "AT+CMGF=1\r";
  sendUartString(UART4_BASE, msj1);
  waitTakingModemLines(1000);
  auto msj2 = kSmsSendCommand;
  sendUartString(UART4_BASE, msj2.data());
  waitTakingModemLines(1000);
  sendUartString(UART4_BASE, body);
  waitTakingModemLines(1000);
  // Each group follows a 1 s wait, in which the transmit FIFO has emptied.
  UARTCharPutNonBlocking(UART4_BASE, 0x1A);
  UARTCharPutNonBlocking(UART4_BASE, '\r');
  UARTCharPutNonBlocking(UART4_BASE, '\n');
  noteTextSent();
  waitTakingModemLines(1000);
  UARTCharPutNonBlocking(UART4_BASE, '\r');
  UARTCharPutNonBlocking(UART4_BASE, '\n');
}

// A text that waits for each answer, and says whether the network took it.
bool sendSmsAwaited(const char* body) {
  constexpr uint32_t kAnswerWait = 1000;
  constexpr uint32_t kResultWait = 65000;  // +CMGS: 2 to 10 s, a minute on a slow network
  expectModemAnswer();
  sendUartString(UART4_BASE, "AT+CMGF=1\r");
  if (awaitModemAnswer(kAnswerWait) != ModemAnswer::Ok) {
    return false;
  }
  expectModemAnswer();
  auto command = kSmsSendCommand;
  sendUartString(UART4_BASE, command.data());
  if (awaitAnswerSkippingStale(kAnswerWait, ModemAnswer::Prompt) != ModemAnswer::Prompt) {
    UARTCharPut(UART4_BASE, 0x1B);  // no prompt: whatever it took is cancelled
    return false;
  }
  expectModemAnswer();
  sendUartString(UART4_BASE, body);
  UARTCharPut(UART4_BASE, 0x1A);
  const ModemAnswer result = awaitAnswerSkippingStale(kResultWait, ModemAnswer::Ok);
  if (result == ModemAnswer::None) {
    UARTCharPut(UART4_BASE, 0x1B);  // a Ctrl-Z it never took would hold the prompt open
  }
  return result == ModemAnswer::Ok;
}

}  // namespace tracker

bool sendSms() {
  beginModemScript();
  // The modem answers first: the alert would otherwise land in a text or a
  // request still under way, and leave a prompt open for the next script.
  char msj3[] = "The target went beyond the limits.\r";
  const bool sent = modemAnswersAttention() && sendSmsAwaited(msj3);
  endModemScript();
  return sent;
}

void receiveSms() {
  beginModemScript();
  receiveSmsScript();
  endModemScript();
}
