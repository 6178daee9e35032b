// The tracker firmware: bring-up, then the foreground duties between waits
// for interrupts; the interrupt handlers do the rest.
#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "platform/hw.h"
#include "tracker/tracker.h"

int main() {
  entry::bringUp();
  // The modem answers, has registered and hands texts to the line before
  // the first script.
  (void)startModem();
  for (;;) {
    entry::runDuties();
    hw::waitForInterrupt();
  }
}
