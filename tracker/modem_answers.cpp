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
  } else if (starts("+HTTPACTION:")) {
    actionStatus = actionStatusOf();
    actionDone = true;
  } else if (is("RDY") || is("Call Ready")) {
    restarted = true;
  } else if (is("NORMAL POWER DOWN") || is("UNDER-VOLTAGE POWER DOWN") || is("OVER-VOLTAGE POWER DOWN")) {
    poweredDown = true;
  } else if (starts("+CREG:")) {
    const int status = lastNumber();
    registeredFlag = status == 1 || status == 5;
  }
  lineLength = 0;
}

}  // namespace

void noteModemCharacter(char character) {
  // The modem speaks IRA text; a byte of 0x80 or more is the garbage its
  // power-on sync bytes make at 9600 baud: an autobauding modem reboots
  // with no other sign.
  if (static_cast<unsigned char>(character) >= 0x80) {
    restarted = true;
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

bool modemRegistered() { return registeredFlag; }

uint32_t modemRings() { return rings; }
