// The tracker image's main for board runs of the tests: bring-up, then the
// foreground duties between waits for interrupts, with a note of the
// tracker's state at each of the given times.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "platform/hw.h"
#include "sim/sim.h"
#include "tracker/tracker.h"

namespace tracker_test {

// The duties' loop after the bring-up; with the modem's start-up between
// them, as the image's main has it, when startModem is set.
inline std::function<void()> trackerNoting(std::vector<sim::Time> noteAt, std::function<std::string()> describe,
                                           bool startModem = false) {
  return [noteAt = std::move(noteAt), describe = std::move(describe), startModem] {
    entry::bringUp();
    if (startModem) {
      (void)::startModem();
    }
    size_t next = 0;
    for (;;) {
      entry::runDuties();
      if (next < noteAt.size() && sim::now() >= noteAt[next]) {
        sim::note(describe());
        ++next;
      }
      hw::waitForInterrupt();
    }
  };
}

}  // namespace tracker_test
