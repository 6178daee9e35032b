// The interpreter of modem output: RING, the NO results and a radius framed
// by '@' and '$'. Each test reads the modem's output as one stream, batch
// after batch, so a marker split across batches is seen once, where it ends.
#include <cstddef>

#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

// Tells which characters of the stream may be part of a result code. Lines
// that start with '+' are information from the modem (a caller's name in
// +CLIP, an SMS header), and the line after an SMS or HTTP read header is
// somebody else's text: neither is a result, whatever letters it holds.
class ModemLines {
 public:
  // Takes the next character; true when it stands where a result may.
  bool resultCharacter(char character) {
    if (character == '\r' || character == '\n') {
      if (length_ > 0 || payload_) {
        endLine();
      }
      if (character == '\n' && payloadNext_) {
        payloadNext_ = false;
        payload_ = true;
      }
      return false;
    }
    if (length_ < sizeof head_) {
      head_[length_] = character;
    }
    ++length_;
    return !payload_ && head_[0] != '+';
  }

 private:
  void endLine() {
    payloadNext_ = !payload_ && (startsWith("+CMT:") || startsWith("+CMGR:") || startsWith("+HTTPREAD:"));
    payload_ = false;
    length_ = 0;
  }

  template <size_t Size>
  bool startsWith(const char (&prefix)[Size]) const {
    if (length_ < Size - 1) {
      return false;
    }
    for (size_t index = 0; index + 1 < Size; ++index) {
      if (head_[index] != prefix[index]) {
        return false;
      }
    }
    return true;
  }

  char head_[10] = {};
  size_t length_ = 0;
  bool payload_ = false;
  bool payloadNext_ = false;
};

// Finds a fixed word in the result characters of the stream. A mismatch on
// the word's first letter starts a new match there, so RRING and RIRING hold
// a RING.
template <size_t Size>
class WordFinder {
 public:
  explicit constexpr WordFinder(const char (&word)[Size]) : word_(word) {}

  // True when this character completes the word.
  bool found(char character) {
    if (!lines_.resultCharacter(character)) {
      matched_ = 0;
      return false;
    }
    if (character == word_[matched_]) {
      if (++matched_ == Size - 1) {
        matched_ = 0;
        return true;
      }
      return false;
    }
    matched_ = character == word_[0] ? 1 : 0;
    return false;
  }

 private:
  const char (&word_)[Size];
  ModemLines lines_;
  size_t matched_ = 0;
};

// "NO" starts every NO result: NO CARRIER, NO ANSWER, NO DIALTONE.
constinit WordFinder ring("RING");
constinit WordFinder no("NO");

// A radius frame: '@', 1 to 4 digits, '$', read from any text, SMS texts
// included. Anything else between the '@' and the '$' drops the frame.
constexpr int kCircleDigits = 4;
struct CircleFrame {
  bool open = false;
  int digits = 0;
  int value = 0;
};
constinit CircleFrame frame;

// True when this character completes a frame with a radius from 1 to 9999.
bool radiusFrameEnds(char character, int& radius) {
  if (character == '@') {
    frame = CircleFrame{true, 0, 0};
    return false;
  }
  if (!frame.open) {
    return false;
  }
  if (character >= '0' && character <= '9' && frame.digits < kCircleDigits) {
    frame.value = frame.value * 10 + (character - '0');
    ++frame.digits;
    return false;
  }
  const bool complete = character == '$' && frame.digits > 0 && frame.value > 0;
  radius = frame.value;
  frame.open = false;
  return complete;
}

}  // namespace

namespace {

// Feeds the whole text to the finder: 1 when the word ended in it, and then
// the call state takes the value with its trace.
template <size_t Size>
int setCallStateOnWord(WordFinder<Size>& finder, const char* message, int state, const char* label) {
  int matched = 0;
  for (; *message != '\0'; ++message) {
    if (finder.found(*message)) {
      matched = 1;
    }
  }
  if (matched != 0) {
    callStatusFlag = state;
    traceValue(label, callStatusFlag);
  }
  return matched;
}

}  // namespace

int isCall(const char* message) { return setCallStateOnWord(ring, message, 1, "callFlag : "); }

int isNo(const char* message) { return setCallStateOnWord(no, message, 0, "callStatusFlag: "); }

int isCircleSet(const char* message) {
  // Several frames in one text: the first counts.
  int set = 0;
  for (; *message != '\0'; ++message) {
    int radius = 0;
    if (radiusFrameEnds(*message, radius) && set == 0) {
      circleSize = radius;
      set = 1;
    }
  }
  if (set != 0) {
    sendUartString(UART0_BASE, "CIRCLESETSUCCES\n");
  }
  return set;
}
