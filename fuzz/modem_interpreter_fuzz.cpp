// The modem interpreter, fed the modem's output in batches as its receive
// handler forms them. Input: the modem's bytes; 0xFF cuts a batch, and a
// batch holds at most 16 (the receive FIFO's depth).
//
// What the batches may do is judged two ways. Against the stream itself: a
// call starts only where "RING" ends, a hang-up only where "NO" ends, a
// radius only where '@', 1 to 4 digits and '$' end with a value 1 to 9999.
// And against the same stream handed over one byte at a time: how the
// stream is cut must not change what is found, nor where.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/forked_board.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

namespace {

constexpr uint8_t kCut = 0xFF;
constexpr size_t kFifoDepth = 16;

struct Batch {
  size_t from;  // in the stream
  size_t to;
};

struct Found {
  bool call = false;
  bool hangUp = false;
  bool radius = false;
  int circleSize = 0;
  int callState = 0;
  char circleFlag = 0;
};

// Runs the batches through the handler's own code on a board; one note per
// batch with what it found and the state after it.
std::vector<Found> interpret(const std::string& stream, const std::vector<Batch>& batches) {
  sim::Bench bench;
  const sim::Outcome run = fuzz::runOnBoard(
      bench,
      [&stream, &batches] {
        setPins();
        for (const Batch& batch : batches) {
          for (size_t at = batch.from; at < batch.to; ++at) {
            storeModemCharacter(stream[at]);
          }
          const ModemBatchFindings findings = interpretModemBatch();
          std::string note;
          note += findings.call ? 'c' : '-';
          note += findings.hangUp ? 'h' : '-';
          note += findings.radius ? 'r' : '-';
          note += static_cast<char>('0' + tracker::callStatusFlag);
          note += tracker::circleFlag;
          note += std::to_string(tracker::circleSize);
          sim::note(note);
        }
      },
      sim::seconds(3600));
  std::vector<Found> found;
  for (const auto& [time, note] : run.notes()) {
    Found one;
    one.call = note[0] == 'c';
    one.hangUp = note[1] == 'h';
    one.radius = note[2] == 'r';
    one.callState = note[3] - '0';
    one.circleFlag = note[4];
    one.circleSize = std::stoi(note.substr(5));
    found.push_back(one);
  }
  if (found.size() != batches.size()) {
    fuzz::broken("a batch went missing");
  }
  return found;
}

bool endsWith(std::string_view stream, size_t end, std::string_view word) {
  return end >= word.size() && stream.substr(end - word.size(), word.size()) == word;
}

// The value of a well-formed radius frame ending just before end, or 0.
int frameEndingAt(std::string_view stream, size_t end) {
  if (end == 0 || stream[end - 1] != '$') {
    return 0;
  }
  size_t digits = 0;
  int value = 0;
  int scale = 1;
  for (size_t at = end - 1; at > 0 && digits < 5; --at) {
    const char character = stream[at - 1];
    if (character == '@') {
      return digits >= 1 && digits <= 4 && value >= 1 ? value : 0;
    }
    if (character < '0' || character > '9') {
      return 0;
    }
    value += (character - '0') * scale;
    scale *= 10;
    ++digits;
  }
  return 0;
}

void check(bool holds, const std::string& what, size_t batch) {
  if (!holds) {
    fuzz::broken(what + " (batch " + std::to_string(batch) + ")");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::shareCoverage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string stream;
  std::vector<Batch> batches;
  size_t from = 0;
  for (size_t at = 0; at < size; ++at) {
    if (data[at] == kCut || stream.size() - from == kFifoDepth) {
      if (stream.size() > from) {
        batches.push_back(Batch{from, stream.size()});
      }
      from = stream.size();
    }
    if (data[at] != kCut) {
      stream.push_back(static_cast<char>(data[at]));
    }
  }
  if (stream.size() > from) {
    batches.push_back(Batch{from, stream.size()});
  }
  if (batches.empty()) {
    return 0;
  }
  std::vector<Batch> bytes;
  for (size_t at = 0; at < stream.size(); ++at) {
    bytes.push_back(Batch{at, at + 1});
  }

  const std::vector<Found> cut = interpret(stream, batches);
  const std::vector<Found> single = interpret(stream, bytes);

  // One byte at a time: each finding stands where the stream says it may.
  // Zero bytes are line noise the handler drops.
  std::string visible;
  std::vector<size_t> visibleBefore;  // visible characters up to and with each byte
  for (char character : stream) {
    if (character != '\0') {
      visible.push_back(character);
    }
    visibleBefore.push_back(visible.size());
  }
  for (size_t at = 0; at < single.size(); ++at) {
    const size_t end = visibleBefore[at];
    check(!single[at].call || endsWith(visible, end, "RING"), "a call without RING", at);
    check(!single[at].hangUp || endsWith(visible, end, "NO"), "a hang-up without NO", at);
    check(!single[at].radius || frameEndingAt(visible, end) == single[at].circleSize,
          "a radius without its frame", at);
  }

  int callState = 0;
  int circleSize = 0;
  char circleFlag = 'n';
  for (size_t index = 0; index < batches.size(); ++index) {
    const Batch& batch = batches[index];
    const Found& found = cut[index];
    bool call = false;
    bool hangUp = false;
    int radius = 0;
    for (size_t at = batch.from; at < batch.to; ++at) {
      call = call || single[at].call;
      hangUp = hangUp || single[at].hangUp;
      if (radius == 0 && single[at].radius) {
        radius = single[at].circleSize;
      }
    }
    check(found.call == call, "RING found differently when the stream is cut otherwise", index);
    check(found.hangUp == hangUp, "NO found differently when the stream is cut otherwise", index);
    check(found.radius == (radius != 0), "a radius found differently when the stream is cut otherwise", index);
    if (radius != 0) {
      circleSize = radius;
      circleFlag = 'y';
    }
    callState = hangUp ? 0 : call ? 1 : callState;
    check(found.callState == callState, "the call state is not what RING and NO left", index);
    check(found.circleSize == circleSize, "the radius is not the frame's", index);
    check(found.circleFlag == circleFlag, "the circle flag is not what the frames left", index);
  }
  return 0;
}
