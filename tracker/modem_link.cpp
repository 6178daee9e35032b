// The modem link on UART4: batches of modem output, echoed and interpreted.
#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

void sim900UartConfig() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
  UARTConfigSetExpClk(UART4_BASE, SysCtlClockGet(), 9600,
                      UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOC);
  GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinConfigure(GPIO_PC5_U4TX);
  GPIOPinConfigure(GPIO_PC4_U4RX);
  UARTIntEnable(UART4_BASE, UART_INT_RX);
  UARTIntRegister(UART4_BASE, Int_sim900);
  IntEnable(INT_UART4);
  IntMasterEnable();
  IntPrioritySet(INT_UART4, 2);
  UARTEnable(UART4_BASE);
}

void storeModemCharacter(char character) {
  noteModemCharacter(character);
  // A NUL would end the batch's text early and hide what follows it in the
  // batch; the modem never sends one, so it is line noise and dropped.
  if (character == '\0') {
    return;
  }
  // Characters beyond the buffer are read and dropped, never stored.
  if (sim900Index < static_cast<int>(kMessageSize) - 1) {
    recieveMessage[sim900Index] = character;
    sim900Index++;
  }
}

ModemBatchFindings interpretModemBatch() {
  recieveMessage[sim900Index] = '\0';
  sendUartString(UART0_BASE, recieveMessage);

  ModemBatchFindings findings;
  if (isCall(recieveMessage)) {
    findings.call = true;
    ledLight(kBlueLed, 700);
  }
  if (isNo(recieveMessage)) {
    findings.hangUp = true;
    ledLight(kGreenLed, 100);
  }
  if (isCircleSet(recieveMessage)) {
    findings.radius = true;
    circleFlag = 'y';
    sendUartString(UART0_BASE, "Set Circle Size");
  }
  readFlag = 1;
  sim900Index = 0;
  return findings;
}

void Int_sim900() {
  pausePositionLink();
  TimerDisable(TIMER0_BASE, TIMER_A);
  while (UARTCharsAvail(UART4_BASE)) {
    storeModemCharacter(static_cast<char>(UARTCharGetNonBlocking(UART4_BASE) & 0xFF));
    SysCtlDelay(1);
  }
  (void)interpretModemBatch();

  // What arrived during the blinks has raised the interrupt again at the
  // controller already; clearing the UART's flag here loses none of it.
  UARTIntClear(UART4_BASE, UART_INT_RX);
  resumePositionLink();
  TimerEnable(TIMER0_BASE, TIMER_A);
}
