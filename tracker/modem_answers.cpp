// The modem's answers, for the scripts that wait on the line. Every
// character the link takes passes through here, in the receive handler or
// pumped by a waiting script, and is read as lines: the last final result
// since a script asked, the last HTTP action's status, and whether the
// modem restarted, went down or registered.
#include <cstring>

#include "platform/driverlib.h"
#include "tracker/state.h"
#include "tracker/tracker.h"

using namespace tracker;

namespace {

constexpr size_t kLineSize = 40;
char line[kLineSize];
size_t lineLength = 0;

volatile ModemAnswer answer = ModemAnswer::None;
volatile bool actionDone = false;
volatile int actionStatus = 0;
volatile bool restarted = false;
volatile bool poweredDown = false;
volatile bool registeredFlag = false;
volatile bool connectedLine = false;
volatile uint32_t rings = 0;
volatile uint32_t charactersSeen = 0;
volatile uint32_t goneAway = 0;  // restarts and power-downs seen, all told
// A text the report's script sent without waiting: the modem is busy with it
// until the network's +CMGS or +CMS ERROR (2 to 10 s, a minute when slow).
volatile bool textInFlight = false;

// The network's answer to the report's text: a report that waited for it
// goes now, unless a script holds the modem (its end serves the report).
void textThrough() {
  textInFlight = false;
  if (reportDeferred && !modemBusy()) {
    IntPendSet(INT_TIMER1A);
  }
}

bool starts(const char* prefix) { return std::strncmp(line, prefix, std::strlen(prefix)) == 0; }
bool is(const char* text) { return std::strcmp(line, text) == 0; }

// The number after the last ',' or, without one, after the ':'.
int lastNumber() {
  const char* at = std::strrchr(line, ',');
  if (at == nullptr) {
    at = std::strchr(line, ':');
  }
  if (at == nullptr) {
    return -1;
  }
  ++at;
  while (*at == ' ') {
    ++at;
  }
  int value = 0;
  bool digits = false;
  for (; *at >= '0' && *at <= '9'; ++at) {
    value = value * 10 + (*at - '0');
    digits = true;
  }
  return digits ? value : -1;
}

// +HTTPACTION:<method>,<status>,<length>: the status is the second field.
int actionStatusOf() {
  const char* first = std::strchr(line, ',');
  if (first == nullptr) {
    return 0;
  }
  int value = 0;
  for (const char* at = first + 1; *at >= '0' && *at <= '9'; ++at) {
    value = value * 10 + (*at - '0');
  }
  return value;
}

void lineEnded() {
  line[lineLength] = '\0';
  if (is("OK")) {
    answer = ModemAnswer::Ok;
  } else if (is("ERROR") || starts("+CME ERROR") || starts("+CMS ERROR")) {
    answer = ModemAnswer::Error;
    if (textInFlight && starts("+CMS ERROR")) {
      textThrough();
    }
  } else if (is("RING")) {
    rings = rings + 1;
  } else if (is("BUSY")) {
    answer = ModemAnswer::Busy;
  } else if (is("NO CARRIER")) {
    answer = ModemAnswer::NoCarrier;
  } else if (is("NO ANSWER")) {
    answer = ModemAnswer::NoAnswer;
  } else if (is("NO DIALTONE") || is("NO DIAL TONE")) {
    answer = ModemAnswer::NoDialTone;
  } else if (is("DOWNLOAD")) {
    answer = ModemAnswer::Prompt;
  } else if (starts("+COLP:") || starts("+CMGS:")) {
    // The far end's answer to a dial, the network's to a text.
    connectedLine = true;
    if (textInFlight && starts("+CMGS:")) {
      textThrough();
    }
  } else if (starts("+HTTPACTION:")) {
    actionStatus = actionStatusOf();
    actionDone = true;
  } else if (is("RDY") || is("Call Ready")) {
    restarted = true;
    goneAway = goneAway + 1;
    textInFlight = false;
  } else if (is("NORMAL POWER DOWN") || is("UNDER-VOLTAGE POWER DOWN") || is("OVER-VOLTAGE POWER DOWN")) {
    poweredDown = true;
    goneAway = goneAway + 1;
  } else if (starts("+CREG:")) {
    const int status = lastNumber();
    registeredFlag = status == 1 || status == 5;
  }
  lineLength = 0;
}

}  // namespace

void noteModemCharacter(char character) {
  charactersSeen = charactersSeen + 1;
  // The modem speaks IRA text; a byte of 0x80 or more is the garbage its
  // power-on sync bytes make at 9600 baud: an autobauding modem reboots
  // with no other sign.
  if (static_cast<unsigned char>(character) >= 0x80) {
    restarted = true;
    goneAway = goneAway + 1;
    return;
  }
  if (character == '\n') {
    lineEnded();
    return;
  }
  if (character == '\r') {
    return;
  }
  if (lineLength < kLineSize - 1) {
    line[lineLength++] = character;
  }
  // The text prompt has no line end.
  if (lineLength == 2 && line[0] == '>' && line[1] == ' ') {
    answer = ModemAnswer::Prompt;
  }
}

void expectModemAnswer() {
  // An earlier answer may still wait in the receive FIFO, below its
  // trigger level: it is taken first, and forgotten with the rest.
  pumpModemLink();
  answer = ModemAnswer::None;
  actionDone = false;
  connectedLine = false;
}

void forgetModemAnswer() { answer = ModemAnswer::None; }

bool connectedLineSeen() { return connectedLine; }

void pumpModemLink() {
  // The receive handler may not run over a batch the pump is taking.
  IntDisable(INT_UART4);
  if (UARTCharsAvail(UART4_BASE)) {
    while (UARTCharsAvail(UART4_BASE)) {
      storeModemCharacter(static_cast<char>(UARTCharGetNonBlocking(UART4_BASE) & 0xFF));
      SysCtlDelay(1);
    }
    (void)interpretModemBatch();
  }
  IntEnable(INT_UART4);
}

namespace {

constexpr uint32_t kPollMilliseconds = 10;

template <typename Done>
bool awaitModem(uint32_t timeoutMs, Done done) {
  for (uint32_t waited = 0;; waited += kPollMilliseconds) {
    pumpModemLink();
    if (done()) {
      return true;
    }
    if (waited >= timeoutMs) {
      return false;
    }
    waitMilliseconds(kPollMilliseconds);
  }
}

}  // namespace

void waitTakingModemLines(uint32_t ms) { (void)awaitModem(ms, [] { return false; }); }

ModemAnswer awaitModemAnswer(uint32_t timeoutMs, bool orPress) {
  (void)awaitModem(timeoutMs, [orPress] { return answer != ModemAnswer::None || (orPress && pressDeferred); });
  return answer;
}

bool awaitHttpAction(uint32_t timeoutMs, bool orPress) {
  (void)awaitModem(timeoutMs, [orPress] { return actionDone || (orPress && pressDeferred); });
  return actionDone;
}

int httpActionStatus() { return actionStatus; }

bool modemRestarted() {
  const bool was = restarted;
  restarted = false;
  return was;
}

bool modemPoweredDown() {
  const bool was = poweredDown;
  poweredDown = false;
  return was;
}

uint32_t modemGoneAwayCount() { return goneAway; }

bool modemRegistered() { return registeredFlag; }

uint32_t modemRings() { return rings; }

void noteTextSent() { textInFlight = true; }

bool modemTextOnItsWay() { return textInFlight; }

namespace {

constexpr uint32_t kAnswerCheck = 100;
constexpr uint32_t kAttentionWait = 1000;   // an AT's OK, at the most
constexpr uint32_t kAttentionPause = 1000;  // after an ERROR: the modem is still busy
constexpr unsigned kAttentionTries = 12;
constexpr unsigned kUnansweredBeforeEscape = 3;
constexpr uint32_t kTextInFlightWait = 65000;
constexpr uint32_t kQuietTime = 200;        // queued answers come tens of ms apart
constexpr unsigned kQuietChecks = 25;

// The line quiet for a while: the answers a modem still owed to lines it
// had queued are all in, and forgotten.
void awaitQuietLine() {
  for (unsigned checks = 0; checks < kQuietChecks; ++checks) {
    const uint32_t seen = charactersSeen;
    waitTakingModemLines(kQuietTime);
    if (charactersSeen == seen) {
      break;
    }
  }
  forgetModemAnswer();
}

}  // namespace

// The answer awaited: an OK counts only with the +COLP or +CMGS line that
// precedes a real one, and is skipped when a prompt is awaited; any other
// answer ends the wait. An OK without them is a late answer to an earlier
// command the modem had queued.
ModemAnswer awaitAnswerSkippingStale(uint32_t wait, ModemAnswer wanted) {
  for (uint32_t waited = 0; waited < wait; waited += kAnswerCheck) {
    const ModemAnswer answer = awaitModemAnswer(kAnswerCheck);
    if (answer == ModemAnswer::Ok && (wanted == ModemAnswer::Prompt || !connectedLineSeen())) {
      forgetModemAnswer();
    } else if (answer != ModemAnswer::None) {
      return answer;
    }
  }
  return ModemAnswer::None;
}

// "AT" until the modem answers OK, so a script's first line never lands in
// a modem still busy with an earlier one (this also sets an autobauding
// modem's rate). While a text is on its way the tries do not count: the
// modem answers once the network has taken it.
bool modemAnswersAttention(bool orPress) {
  uint32_t waitedForText = 0;
  unsigned unanswered = 0;
  for (unsigned tries = 0; tries < kAttentionTries;) {
    if (orPress && pressDeferred) {
      return false;
    }
    if (unanswered == kUnansweredBeforeEscape) {
      // A text prompt the modem opened late (for a line it had queued) takes
      // every AT as text: ESC closes it.
      UARTCharPut(UART4_BASE, 0x1B);
      unanswered = 0;
    }
    expectModemAnswer();
    char msj1[] = "AT\r\n";
    sendUartString(UART4_BASE, msj1);
    const ModemAnswer answer = awaitModemAnswer(kAttentionWait, orPress);
    if (answer == ModemAnswer::Ok) {
      textInFlight = false;  // its result, if it had one, was lost
      awaitQuietLine();
      return true;
    }
    if (answer != ModemAnswer::None) {
      waitMilliseconds(kAttentionPause);
    }
    unanswered = answer == ModemAnswer::None ? unanswered + 1 : 0;
    if (textInFlight && waitedForText < kTextInFlightWait) {
      waitedForText += kAttentionWait + (answer != ModemAnswer::None ? kAttentionPause : 0);
    } else {
      ++tries;
    }
  }
  if (orPress && pressDeferred) {
    return false;
  }
  sendUartString(UART0_BASE, "modem does not answer\n");
  noteModemSilent();
  return false;
}
