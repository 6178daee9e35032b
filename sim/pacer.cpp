#include "sim/pacer.h"

#include <cstdio>
#include <thread>

#include "sim/board.h"

namespace sim {

namespace {

// Each step the run waits for the wall clock to catch up; a schedule missed
// by more than the tolerance is said on stderr, once a second at most.
constexpr Time kStep = milliseconds(5);
constexpr auto kTolerance = std::chrono::milliseconds(10);

}  // namespace

void Pacer::start() { board_.schedule(0, this, 0, 0); }

void Pacer::onEvent(uint32_t /*kind*/, uint64_t /*argument*/) {
  namespace chrono = std::chrono;
  using Clock = chrono::steady_clock;
  // The wall time the run's virtual time so far should have taken.
  const auto owed = chrono::duration_cast<Clock::duration>(
      chrono::duration<double>(static_cast<double>(board_.now()) / 1e12 / factor_));
  const auto now = Clock::now();
  if (!started_) {
    // From the first event on: loading an image comes before it.
    started_ = now - owed;
    lastWarning_ = now - chrono::seconds(1);
  }
  const auto due = *started_ + owed;
  if (now < due) {
    std::this_thread::sleep_until(due);
  } else if (now - due > kTolerance && now - lastWarning_ >= chrono::seconds(1)) {
    lastWarning_ = now;
    std::fprintf(stderr, "realtime: %lld ms behind the wall clock at %.3f virtual s\n",
                 static_cast<long long>(chrono::duration_cast<chrono::milliseconds>(now - due).count()),
                 static_cast<double>(board_.now()) / 1e12);
  }
  board_.schedule(board_.now() + kStep, this, 0, 0);
}

}  // namespace sim
