// The tracker firmware: bring-up, then the foreground duties between waits
// for interrupts; the interrupt handlers do the rest.
#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "platform/hw.h"

int main() {
  entry::bringUp();
  for (;;) {
    entry::runDuties();
    hw::waitForInterrupt();
  }
}
