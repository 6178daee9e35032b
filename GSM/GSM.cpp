#include "GSM.h"

#include <cstdint>
#include <cstring>

#include "UART.h"
#include "delay.h"

namespace {

// An indication with the longest index the driver takes (5 digits):
// "+CMTI: " "\"SM\"" "," digits, and room for a blank or two more.
constexpr size_t kNotificationSize = 22;
constexpr size_t kIndexDigits = 5;
// Silence that ends a wait for a reply: 10 s. The network may take up to
// 60 s to accept a message.
constexpr unsigned kSilentReadsBeforeGivingUp = 20;
constexpr unsigned kSilentReadsForMessage = 120;

uint8_t succeeded = 0;

struct Reply {
  bool ok;
  bool error;
  bool empty;
};

// Reads one reply, character by character, until a character time-out ends
// it. Stores what fits, drops the rest, and watches the whole reply for OK
// and ERROR.
Reply readReply(unsigned char* buffer, size_t size) {
  Reply reply{false, false, true};
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
    reply.empty = false;
    reply.ok = reply.ok || (previous == 'O' && character == 'K');
    errorMatched = character == static_cast<unsigned char>(kError[errorMatched]) ? errorMatched + 1
                   : character == 'E'                                         ? 1
                                                                              : 0;
    reply.error = reply.error || errorMatched == sizeof kError - 1;
    previous = character;
  }
  if (size > 0) {
    buffer[stored < size ? stored : size - 1] = 0;
  }
  return reply;
}

// A reply that is not empty, waiting out silence up to the bound.
Reply awaitReply(unsigned char* buffer, size_t size, unsigned silentReads = kSilentReadsBeforeGivingUp) {
  for (unsigned read = 0; read < silentReads; ++read) {
    const Reply reply = readReply(buffer, size);
    if (!reply.empty) {
      return reply;
    }
  }
  return Reply{false, false, true};
}

// One line of modem output, CR and LF left out and zero-ended. A line that
// does not fit is read to its end and marked.
enum class LineEnd : uint8_t { Whole, TooLong, Silence };

LineEnd readLine(unsigned char* line, size_t size, unsigned silentReads) {
  size_t length = 0;
  bool tooLong = false;
  unsigned silent = 0;
  for (;;) {
    unsigned char character = 0;
    UART_RecCharwTimeOut(&character);
    if (character == 0) {
      if (++silent >= silentReads) {
        line[length] = 0;
        return LineEnd::Silence;
      }
      continue;
    }
    silent = 0;
    if (character == '\n') {
      line[length] = 0;
      return tooLong ? LineEnd::TooLong : LineEnd::Whole;
    }
    if (character == '\r') {
      continue;
    }
    if (length + 1 < size) {
      line[length++] = character;
    } else {
      tooLong = true;
    }
  }
}

bool startsWith(const unsigned char* line, const char* prefix) {
  return std::strncmp(reinterpret_cast<const char*>(line), prefix, std::strlen(prefix)) == 0;
}

bool isFinalError(const unsigned char* line) {
  return startsWith(line, "ERROR") || startsWith(line, "+CMS ERROR") || startsWith(line, "+CME ERROR");
}

const unsigned char* skipBlanks(const unsigned char* at) {
  while (*at == ' ') {
    ++at;
  }
  return at;
}

// +CMTI: "<2 letters>",<1 to 5 digits>: the storage name with its quotes
// and the index, or false for anything else.
bool parseIndication(const unsigned char* line, unsigned char (&memoryType)[5],
                     unsigned char (&messageIndex)[kIndexDigits + 1]) {
  if (!startsWith(line, "+CMTI:")) {
    return false;
  }
  const unsigned char* at = skipBlanks(line + 6);
  if (at[0] != '"' || at[1] < 'A' || at[1] > 'Z' || at[2] < 'A' || at[2] > 'Z' || at[3] != '"' ||
      at[4] != ',') {
    return false;
  }
  unsigned char index[kIndexDigits + 1] = {};
  size_t digits = 0;
  for (at += 5; *at >= '0' && *at <= '9'; ++at) {
    if (digits == kIndexDigits) {
      return false;
    }
    index[digits++] = *at;
  }
  if (digits == 0 || *skipBlanks(at) != 0) {
    return false;
  }
  std::memcpy(memoryType, at - digits - 5, 4);
  memoryType[4] = 0;
  std::memcpy(messageIndex, index, sizeof index);
  return true;
}

// The originator, the second quoted field of a +CMGR header, without its
// plus sign, into Sender; false when there is none or it does not fit.
bool copySender(const unsigned char* header, unsigned char* Sender) {
  const unsigned char* at = header;
  for (int quote = 0; quote < 2; ++quote) {
    at = reinterpret_cast<const unsigned char*>(std::strchr(reinterpret_cast<const char*>(at), '"'));
    if (at == nullptr) {
      return false;
    }
    ++at;
  }
  // The status field is closed; the originator is the very next field.
  if (at[0] != ',' || at[1] != '"') {
    return false;
  }
  at += 2;
  if (*at == '+') {
    ++at;
  }
  size_t length = 0;
  for (; at[length] != '"'; ++length) {
    if (at[length] == 0 || length + 1 == kSenderSize) {
      return false;
    }
  }
  std::memcpy(Sender, at, length);
  return true;
}

}  // namespace

unsigned char GSM_Succeeded() { return succeeded; }

unsigned char AT_Response(unsigned char* ATRes, size_t size) {
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
    UART_Discard();
    UART_SendStr(reinterpret_cast<const unsigned char*>("AT\n \r"));
    confirm = AT_Response(ATResponse, sizeof ATResponse);
  }
  delay_ms(500);
  confirm = 0;
  for (unsigned char trial = 1; confirm == 0 && trial <= 3; trial++) {
    UART_Discard();
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
  succeeded = 0;

  // Lines that are not a well-formed indication (RING, Call Ready, results)
  // are passed over; waiting for a message has no bound.
  for (;;) {
    const LineEnd end = readLine(SmsNotification, sizeof SmsNotification, kSilentReadsBeforeGivingUp);
    if (end == LineEnd::Whole && parseIndication(SmsNotification, MemoryType, MessageIndex)) {
      break;
    }
  }

  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGF=1;+CPMS="));
  UART_SendStr(MemoryType);
  UART_SendStr(reinterpret_cast<const unsigned char*>(";+CMGR="));
  UART_SendStr(MessageIndex);
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n\r"));

  // The +CPMS line, the +CMGR header, the text line, then OK. Each line may
  // come after a pause; silence for the bound ends the read undelivered.
  bool senderWhole = false;
  bool textWhole = false;
  for (;;) {
    if (readLine(SmsText, sizeof SmsText, kSilentReadsBeforeGivingUp) == LineEnd::Silence ||
        isFinalError(SmsText) || startsWith(SmsText, "OK")) {
      // No header yet: an empty slot, an error, or nothing at all.
      return;
    }
    if (startsWith(SmsText, "+CMGR:")) {
      senderWhole = copySender(SmsText, Sender);
      break;
    }
  }
  const LineEnd text = readLine(SmsText, sizeof SmsText, kSilentReadsBeforeGivingUp);
  if (text == LineEnd::Silence) {
    return;
  }
  const size_t length = std::strlen(reinterpret_cast<const char*>(SmsText));
  std::memcpy(SMSReturn, SmsText, length < kSmsTextSize ? length : kSmsTextSize - 1);
  textWhole = text == LineEnd::Whole;
  for (;;) {
    if (readLine(SmsText, sizeof SmsText, kSilentReadsBeforeGivingUp) == LineEnd::Silence || isFinalError(SmsText)) {
      return;
    }
    if (startsWith(SmsText, "OK")) {
      break;
    }
  }
  if (!senderWhole || !textWhole) {
    // Kept in the modem's store for a reader with more room.
    return;
  }

  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGD="));
  UART_SendStr(MessageIndex);
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n\r"));
  unsigned char CMGDResponse[8] = {};
  succeeded = AT_Response(CMGDResponse, sizeof CMGDResponse);
}

void SMSSend(unsigned char* Number, unsigned char* Text) {
  unsigned char CMGSResponse[25];
  unsigned char CMGFResponse[7];
  unsigned char SendingResponse[70];
  std::memset(CMGSResponse, 0, sizeof CMGSResponse);
  std::memset(CMGFResponse, 0, sizeof CMGFResponse);
  std::memset(SendingResponse, 0, sizeof SendingResponse);
  unsigned char confirm = 0;

  // The number goes out as it was given: "+" and the country code make it
  // international, and a national one keeps its leading 0 (the network
  // routes "905551234567" as a national number, not "+905551234567").
  UART_Discard();
  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGF=1"));
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n \r"));
  confirm = AT_Response(CMGFResponse, sizeof CMGFResponse);
  delay_ms(500);

  UART_Discard();
  UART_SendStr(reinterpret_cast<const unsigned char*>("AT+CMGS="));
  UART_SendChar(0x22);
  UART_SendStr(Number);
  UART_SendChar(0x22);
  UART_SendStr(reinterpret_cast<const unsigned char*>("\n \r"));
  confirm = AT_Response(CMGSResponse, sizeof CMGSResponse);
  delay_ms(500);

  UART_SendStr(Text);
  UART_SendChar(0x1A);

  // Until the modem confirms or reports an error; the network may take up
  // to 60 s, so only that much silence ends the wait.
  confirm = 0;
  unsigned silentReads = kSilentReadsForMessage;
  while (silentReads > 0) {
    const Reply reply = readReply(SendingResponse, sizeof SendingResponse);
    if (reply.ok) {
      confirm = 1;
      break;
    }
    if (reply.error) {
      break;
    }
    if (reply.empty) {
      --silentReads;
    }
  }
  succeeded = confirm;
}
