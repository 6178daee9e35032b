// Blinks the red LED for ever, timed by a counted loop at the reset clock.
#include <initializer_list>

#include "platform/driverlib.h"
#include "platform/hw.h"

namespace {

constexpr uint32_t kPasses = 200000;
// What one pass of the volatile loop costs the processor at -Os: store,
// load, compare, branch, load, add, branch back.
constexpr uint32_t kCyclesPerPass = 11;

}  // namespace

int main() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
  while (!SysCtlPeripheralReady(SYSCTL_PERIPH_GPIOF)) {
  }
  GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_1);
  // Every pass reads and writes the counter in memory.
  volatile uint32_t ui32Loop;
  for (;;) {
    // On, then off, for the same count.
    for (const uint8_t level : {GPIO_PIN_1, uint8_t{0}}) {
      GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, level);
      ui32Loop = 0;
      while (ui32Loop < kPasses) {
        ui32Loop = ui32Loop + 1;
        hw::accountCycles(kCyclesPerPass);
      }
    }
  }
}
