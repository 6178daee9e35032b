// Voice calls and the emergency button.
#include "platform/driverlib.h"
#include "tracker/commands.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

void setCallState(int state) {
  callStatusFlag = state;
  traceValue("callStatusFlag : ", callStatusFlag);
}

}  // namespace

void pressConfig() {
  GPIOPinTypeGPIOInput(GPIO_PORTF_BASE, GPIO_PIN_4);
  GPIOPadConfigSet(GPIO_PORTF_BASE, GPIO_PIN_4, GPIO_STRENGTH_12MA, GPIO_PIN_TYPE_STD_WPU);
  GPIOIntDisable(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  GPIOIntRegister(GPIO_PORTF_BASE, Int_PressControl);
  GPIOIntTypeSet(GPIO_PORTF_BASE, GPIO_PIN_4, GPIO_FALLING_EDGE);
  IntPrioritySet(INT_GPIOF, 1);
  GPIOIntEnable(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
}

void Int_PressControl() {
  const uint32_t status = GPIOIntStatus(GPIO_PORTF_BASE, false);
  if ((status & GPIO_PIN_4) == 0 && !pressDeferred) {
    return;
  }
  if (modemBusy()) {
    // A script of the entry program holds the modem: this press is served
    // when it ends.
    pressDeferred = true;
    GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
    return;
  }
  pressDeferred = false;
  if (callStatusFlag == 0) {
    sendUartString(UART0_BASE, "making call\n");
    makeCall();
  } else if (callStatusFlag == 1) {
    sendUartString(UART0_BASE, "answerCall\n");
    answerCall();
  }
  // Cleared only now: presses and bounces during the call raise nothing.
  GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
}

void makeCall() {
  beginModemScript();
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_3, 0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
  char msj1[] = "AT\r\n";
  sendUartString(UART4_BASE, msj1);
  waitMilliseconds(1000);
  auto msj2 = kDialCommand;
  sendUartString(UART4_BASE, msj2.data());
  setCallState(1);
  waitMilliseconds(2000);
  waitMilliseconds(20000);
  char msj3[] = "ATH\r\n";
  sendUartString(UART4_BASE, msj3);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  setCallState(0);
  endModemScript();
}

void answerCall() {
  beginModemScript();
  sendUartString(UART0_BASE, "answerCall\n");
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, GPIO_PIN_2);
  char msj1[] = "ATA\r\n";
  sendUartString(UART4_BASE, msj1);
  waitMilliseconds(100);
  setCallState(2);
  endModemScript();
}

void hangsUpCall() {
  beginModemScript();
  char msj1[] = "ATH\r\n";
  sendUartString(UART4_BASE, msj1);
  setCallState(0);
  GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
  endModemScript();
}
