#include "GSM.h"

#include <cstdint>
#include <cstring>

#include "UART.h"
#include "delay.h"

namespace {

// An indication with the longest index the driver takes (5 digits):
// CR LF "+CMTI: " "\"SM\"" "," digits CR LF.
constexpr size_t kNotificationSize = 22;
constexpr size_t kIndexDigits = 5;
constexpr uint8_t kSilentReadsBeforeGivingUp = 20;

uint8_t succeeded = 0;

constexpr size_t kNotFound = SIZE_MAX;

// Index right after the count-th marker of a zero-ended reply.
size_t positionAfter(const unsigned char* reply, unsigned char marker, unsigned count) {
  for (size_t i = 0; reply[i] != 0; ++i) {
    if (reply[i] == marker && --count == 0) {
      return i + 1;
    }
  }
  return kNotFound;
}

struct Reply {
  bool ok;
  bool error;
};

// Reads one reply, character by character, until a character time-out (or
// a zero byte) ends it. Stores what fits, drops the rest, and watches the
// whole reply for OK and ERROR.
Reply readReply(unsigned char* buffer, size_t size) {
  Reply reply{false, false};
  size_t stored = 0;
  unsigned char previous = 0;
  static constexpr char kError[] = "ERROR";
  size_t errorMatched = 0;
  for (;;) {
    unsigned char character = 0;
    UART_RecCharwTimeOut(&character);
    if (stored + 1 < size) {
      buffer[stored++] = character;
    }
    if (character == 0) {
      break;
    }
    reply.ok = reply.ok || (previous == 'O' && character == 'K');
    errorMatched = character == static_cast<unsigned char>(kError[errorMatched]) ? errorMatched + 1
                   : character == 'E'                                         ? 1
                                                                              : 0;
    reply.error = reply.error || errorMatched == sizeof kError - 1;
    previous = character;
  }
  buffer[stored < size ? stored : size - 1] = 0;
  return reply;
}

// A reply that is not empty, waiting out silence up to the bound.
Reply awaitReply(unsigned char* buffer, size_t size) {
  for (uint8_t read = 0; read < kSilentReadsBeforeGivingUp; ++read) {
    const Reply reply = readReply(buffer, size);
    if (buffer[0] != 0) {
      return reply;
    }
  }
  return Reply{false, false};
}

}  // namespace

unsigned char GSM_Succeeded() { return succeeded; }

unsigned char AT_Response(unsigned char* ATRes, size_t size) {
  // A buffer with no room still gets its reply read and judged.
  unsigned char scratch[1];
  if (size == 0) {
    ATRes = scratch;
    size = sizeof scratch;
  }
  unsigned char ok = 0;
  if (awaitReply(ATRes, size).ok) {
    ok = 1;
  }
  return ok;
}

void GSM_Init() {
  unsigned char ATResponse[8];
  unsigned char ATEResponse[8];
  unsigned char confirm = 0;
  std::memset(ATResponse, 0, sizeof ATResponse);
  std::memset(ATEResponse, 0, sizeof ATEResponse);
  for (unsigned char trial = 1; confirm == 0 && trial <= 3; trial++) {
    UART_SendStr(reinterpret_cast<const unsigned char*>("AT\n \r"));
    confirm = AT_Response(ATResponse, sizeof ATResponse);
  }
  delay_ms(500);
  confirm = 0;
  for (unsigned char trial = 1; confirm == 0 && trial <= 3; trial++) {
    UART_SendStr(reinterpret_cast<const unsigned char*>("ATE0\n \r"));
    confirm = AT_Response(ATEResponse, sizeof ATEResponse);
  }
  delay_ms(500);
  succeeded = confirm;
}

void SMSReceive(unsigned char* SMSReturn, unsigned char* Sender) {
  unsigned char SmsNotification[kNotificationSize];
  unsigned char MemoryType[5];
  unsigned char MessageIndex[kIndexDigits + 1];
  unsigned char SmsText[kSmsTextSize];
  std::memset(SmsNotification, 0, sizeof SmsNotification);
  std::memset(SmsText, 0, sizeof SmsText);
  std::memset(MemoryType, 0, sizeof MemoryType);
  std::memset(MessageIndex, 0, sizeof MessageIndex);

  // Bursts of fewer than 12 characters are not the indication.
  unsigned char SmSReceived = 0;
  while (SmSReceived == 0) {
    std::memset(SmsNotification, 0, sizeof SmsNotification);
    (void)readReply(SmsNotification, sizeof SmsNotification);
    if (SmsNotification[10] != 0 && SmsNotification[11] != 0) {
      SmSReceived = 1;
    }
  }

  std::memcpy(MemoryType, SmsNotification + 9, 4);
  MemoryType[4] = 0;
  for (size_t i = 14, j = 0; i < sizeof SmsNotification && SmsNotification[i] != 0x0D &&
                             SmsNotification[i] != 0 && j < kIndexDigits;
       ++i, ++j) {
    MessageIndex[j] = SmsNotification[i];
  }

  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGF=1;+CPMS="));
  UART_SendStr(MemoryType);
  UART_SendStr(reinterpret_cast<const unsigned char*>(";+CMGR="));
  UART_SendStr(MessageIndex);
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n\r"));
  (void)readReply(SmsText, sizeof SmsText);

  // The text follows the fourth line feed and ends at the next CR; the
  // sender follows the third plus sign and ends at the quote. A reply with
  // too few markers delivers nothing.
  const size_t text = positionAfter(SmsText, 0x0A, 4);
  for (size_t i = text, j = 0; i != kNotFound && SmsText[i] != 0x0D && SmsText[i] != 0 && j + 1 < kSmsTextSize;
       ++i, ++j) {
    SMSReturn[j] = SmsText[i];
  }
  const size_t sender = positionAfter(SmsText, 0x2B, 3);
  for (size_t i = sender, j = 0; i != kNotFound && SmsText[i] != 0x22 && SmsText[i] != 0 && j + 1 < kSenderSize;
       ++i, ++j) {
    Sender[j] = SmsText[i];
  }

  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGD="));
  UART_SendStr(MessageIndex);
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n\r"));
}

void SMSSend(unsigned char* Number, unsigned char* Text) {
  unsigned char CMGSResponse[25];
  unsigned char CMGFResponse[7];
  unsigned char SendingResponse[70];
  std::memset(CMGSResponse, 0, sizeof CMGSResponse);
  std::memset(CMGFResponse, 0, sizeof CMGFResponse);
  std::memset(SendingResponse, 0, sizeof SendingResponse);
  unsigned char confirm = 0;

  Number++;
  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGF=1"));
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n \r"));
  confirm = AT_Response(CMGFResponse, sizeof CMGFResponse);
  delay_ms(500);

  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGS="));
  UART_SendChar(0x22);
  UART_SendStr(Number);
  UART_SendChar(0x22);
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n \r"));
  confirm = AT_Response(CMGSResponse, sizeof CMGSResponse);
  delay_ms(500);

  UART_SendStr(Text);
  UART_SendChar(0x1A);

  // Until the modem confirms; an error report or silence ends the wait too.
  confirm = 0;
  for (;;) {
    const Reply reply = awaitReply(SendingResponse, sizeof SendingResponse);
    if (reply.ok) {
      confirm = 1;
      break;
    }
    if (reply.error || SendingResponse[0] == 0) {
      break;
    }
  }
  succeeded = confirm;
}
