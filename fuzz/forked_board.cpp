#include "fuzz/forked_board.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/board.h"

// The inline 8-bit counters of the instrumented code; the linker marks the
// section's ends.
extern "C" {
extern uint8_t __start___sancov_cntrs[] __attribute__((weak));
extern uint8_t __stop___sancov_cntrs[] __attribute__((weak));
}

namespace fuzz {

namespace {

struct SharedCounters {
  bool copied;
  uint8_t counters[1];
};

SharedCounters* shared = nullptr;
size_t counterCount = 0;

}  // namespace

void shareCoverage() {
  if (__start___sancov_cntrs == nullptr || shared != nullptr) {
    return;
  }
  counterCount = static_cast<size_t>(__stop___sancov_cntrs - __start___sancov_cntrs);
  void* memory = mmap(nullptr, sizeof(SharedCounters) + counterCount, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    broken("no shared memory for the coverage counters");
  }
  shared = static_cast<SharedCounters*>(memory);
}

sim::Outcome runOnBoard(const sim::Bench& bench, const std::function<void()>& entry, sim::Time end) {
  if (shared != nullptr) {
    shared->copied = false;
  }
  const sim::Outcome run = bench.run(
      [&entry] {
        if (shared != nullptr) {
          // The run's process ends in _exit at its end time or on a fault.
          sim::board().beforeFinish([] {
            std::memcpy(shared->counters, __start___sancov_cntrs, counterCount);
            shared->copied = true;
          });
        }
        entry();
      },
      end);
  // The run's process began with this one's counters, so its own are a
  // superset of them.
  if (shared != nullptr && shared->copied) {
    std::memcpy(__start___sancov_cntrs, shared->counters, counterCount);
  }
  if (!run.ok()) {
    broken("the board run failed: " + run.failure());
  }
  return run;
}

void broken(const std::string& what) {
  std::fprintf(stderr, "\nBROKEN: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
