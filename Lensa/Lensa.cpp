#include "Lensa.h"

#include <cstdio>
#include <cstring>

#include "platform/sysctl.h"
#include "timer.h"
#include "uart.h"

namespace {

constexpr uint8_t kProtocolSign = 0x56;
constexpr uint8_t kReplySign = 0x76;
constexpr uint8_t kReplyHeaderSize = 5;
constexpr uint32_t kTimeout = 1000000000;
constexpr size_t kFrameSize = 20;

uint8_t Response[20];
uint8_t info[49];

void Lensa_SendCommand(uint8_t cmd, uint8_t SerialNumber, const uint8_t* argv, uint8_t argc) {
  uint8_t tx_packet[kFrameSize];
  // The frame holds 16 data bytes at most.
  if (argc > kFrameSize - 4) {
    argc = kFrameSize - 4;
  }
  tx_packet[0] = kProtocolSign;
  tx_packet[1] = SerialNumber;
  tx_packet[2] = cmd;
  tx_packet[3] = argc;
  for (uint32_t i = 4; i < static_cast<uint32_t>(argc) + 4; i++) {
    tx_packet[i] = argv[i - 4];
  }
  (void)UART5_WriteBytes(tx_packet, static_cast<uint32_t>(argc) + 4);
}

uint32_t Lensa_ReadResponse(uint8_t* data, uint32_t size, uint32_t timer) {
  uint32_t bytesRead = 0;
  TIMER0_SetTimer(timer);
  for (;;) {
    if (TIMER0_CheckTimeout()) {
      TIMER0_DisableTimer();
      return bytesRead;
    }
    const uint32_t available = UART5_Available();
    if (available >= size) {
      TIMER0_DisableTimer();
      bytesRead = UART5_ReadBytes(data, size);
      return bytesRead;
    }
  }
}

// Bytes still waiting from an earlier reply (one that came after its
// time-out, or the rest of one that was refused) belong to no command.
void Lensa_DropStaleBytes() {
  uint8_t stale[16];
  while (UART5_Available() > 0) {
    (void)UART5_ReadBytes(stale, sizeof stale);
  }
}

// A reply opens with 0x76, the serial number, the command and a zero status.
bool Lensa_ReplyAccepted(const uint8_t* reply, uint8_t SerialNumber, uint8_t cmd) {
  return reply[0] == kReplySign && reply[1] == SerialNumber && reply[2] == cmd && reply[3] == 0x00;
}

uint8_t* Lensa_RunCommand(uint8_t SerialNumber, uint8_t cmd, const uint8_t* argv, uint8_t argc,
                          uint8_t ResponseLenght) {
  // The reply lands in the 20-byte Response and has at least its 5-byte header.
  if (ResponseLenght > sizeof Response) {
    ResponseLenght = sizeof Response;
  }
  if (ResponseLenght < kReplyHeaderSize) {
    ResponseLenght = kReplyHeaderSize;
  }
  Lensa_DropStaleBytes();
  Lensa_SendCommand(cmd, SerialNumber, argv, argc);
  SysCtlDelay((SysCtlClockGet() / 3000) * 200);
  if (Lensa_ReadResponse(Response, ResponseLenght, kTimeout) == 0 ||
      !Lensa_ReplyAccepted(Response, SerialNumber, cmd)) {
    std::printf("ReadResponse NULL\n");
    return nullptr;
  }
  return Response;
}

}  // namespace

void printBits(size_t size, const void* ptr) {
  const auto* bytes = static_cast<const unsigned char*>(ptr);
  for (size_t i = size; i-- > 0;) {
    for (int j = 7; j >= 0; j--) {
      std::printf("%u", static_cast<unsigned>((bytes[i] >> j) & 1U));
    }
  }
  std::puts("");
}

uint8_t* Lensa_Reset(uint8_t SerialNumber) {
  if (Lensa_RunCommand(SerialNumber, 0x26, nullptr, 0, 5) == nullptr) {
    return nullptr;
  }
  if (Lensa_ReadResponse(info, sizeof info, kTimeout) == 0) {
    return nullptr;
  }
  return info;
}

uint8_t Lensa_FBuffCtrl(uint8_t SerialNumber, uint8_t controlFlag) {
  const uint8_t argv[1] = {controlFlag};
  return Lensa_RunCommand(SerialNumber, 0x36, argv, 1, 5) != nullptr ? 1 : 0;
}

uint32_t Lensa_GetFBuffLen(uint8_t SerialNumber, uint8_t fBuffType) {
  const uint8_t argv[1] = {fBuffType};
  const uint8_t* reply = Lensa_RunCommand(SerialNumber, 0x34, argv, 1, 9);
  if (reply == nullptr) {
    return 0;
  }
  const uint32_t lenght = (static_cast<uint32_t>(reply[5]) << 24) | (static_cast<uint32_t>(reply[6]) << 16) |
                          (static_cast<uint32_t>(reply[7]) << 8) | reply[8];
  return lenght;
}

uint8_t Lensa_ReadFBuff(uint8_t SerialNumber, uint8_t fBufType, uint8_t ControlMode, uint16_t StartingAddress,
                        uint16_t DataLenght, uint16_t Delay, uint8_t* data) {
  // The image bytes and the closing five must all wait in the link's buffer
  // at once, or the read could never complete.
  if (static_cast<uint32_t>(DataLenght) + 5 > kCameraReceiveBufferSize) {
    return 0;
  }
  uint8_t argv[12];
  std::memset(argv, 0, sizeof argv);
  argv[0] = fBufType;
  argv[1] = ControlMode;
  argv[4] = static_cast<uint8_t>(StartingAddress >> 8);
  argv[5] = static_cast<uint8_t>(StartingAddress & 0xFF);
  argv[8] = static_cast<uint8_t>(DataLenght >> 8);
  argv[9] = static_cast<uint8_t>(DataLenght & 0xFF);
  argv[10] = static_cast<uint8_t>(Delay >> 8);
  argv[11] = static_cast<uint8_t>(Delay & 0xFF);
  if (Lensa_RunCommand(SerialNumber, 0x32, argv, sizeof argv, 5) == nullptr) {
    return 0;
  }
  const uint32_t total = static_cast<uint32_t>(DataLenght) + 5;
  return Lensa_ReadResponse(data, total, kTimeout) != 0 ? 1 : 0;
}

uint8_t Lensa_ReadData(uint8_t SerialNumber, uint8_t DeviceType, uint8_t DataNumToRead, uint32_t ConfigInfo,
                       uint8_t* data) {
  // ConfigInfo bytes each device type takes, least significant first.
  static constexpr uint8_t kConfigBytes[] = {0, 2, 3, 3, 2, 2, 4};
  uint8_t argv[6] = {DeviceType, DataNumToRead, 0, 0, 0, 0};
  const uint8_t* reply = nullptr;
  if (DeviceType >= 1 && DeviceType <= 6) {
    const uint8_t configBytes = kConfigBytes[DeviceType];
    for (uint8_t k = 0; k < configBytes; ++k) {
      argv[2 + k] = static_cast<uint8_t>(ConfigInfo >> (8 * k));
    }
    reply = Lensa_RunCommand(SerialNumber, 0x30, argv, static_cast<uint8_t>(2 + configBytes),
                             DeviceType == 6 ? 6 : 5);
  }
  // The caller's buffer holds nothing read yet: the line shows how many
  // bytes are asked for.
  char size[4];
  std::snprintf(size, sizeof size, "%u", static_cast<unsigned>(DataNumToRead));
  std::printf("ImageSize:%s\n", size);
  if (reply == nullptr) {
    std::printf("ReadResponse NUll\n");
    return 0;
  }
  return Lensa_ReadResponse(data, DataNumToRead, kTimeout) != 0 ? 1 : 0;
}
