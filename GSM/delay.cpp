#include "delay.h"

#include "platform/sysctl.h"

void delay_ms(int milliseconds) {
  const uint32_t passes = static_cast<uint32_t>(milliseconds) * (SysCtlClockGet() / 3000);
  // The delay loop runs 2^32 passes for a count of 0: no wait is no loop.
  if (milliseconds > 0 && passes != 0) {
    SysCtlDelay(passes);
  }
}
