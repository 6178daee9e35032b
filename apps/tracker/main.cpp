// The tracker firmware: bring-up, then the interrupt handlers do the work.
#include "apps/tracker/entry.h"
#include "platform/hw.h"

int main() {
  entry::bringUp();
  for (;;) {
    hw::waitForInterrupt();
  }
}
