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

namespace tracker_test {

inline std::function<void()> trackerNoting(std::vector<sim::Time> noteAt, std::function<std::string()> describe) {
  return [noteAt = std::move(noteAt), describe = std::move(describe)] {
    entry::bringUp();
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
