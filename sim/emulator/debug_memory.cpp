// The debugger's view of the emulated board: its registers, its memory and
// the devices' registers (read in a copy of the run that is thrown away),
// the flash as a flash programmer writes it, where watchpoints may go.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "sim/board.h"
#include "sim/emulator/processor.h"

namespace sim {

namespace {

constexpr uint32_t kFlashBlock = 1024;  // the flash's erase block
constexpr uint32_t kLargestRead = 0x4000;

bool inside(uint32_t address, uint32_t length, uint32_t base, uint32_t size) {
  return address >= base && address - base < size && length <= size - (address - base);
}

bool deviceSpace(uint32_t address, uint32_t length) {
  return inside(address, length, kPeripheralBase, kPeripheralSize) || inside(address, length, kSystemBase, kSystemSize);
}

// The Unicorn register of each number the target description gives.
int unicornRegister(unsigned number) {
  if (number < 13) {
    return UC_ARM_REG_R0 + static_cast<int>(number);
  }
  if (number >= gdb::regs::kD0 && number < gdb::regs::kD0 + 16) {
    return UC_ARM_REG_D0 + static_cast<int>(number - gdb::regs::kD0);
  }
  switch (number) {
    case gdb::regs::kSp: return UC_ARM_REG_SP;
    case 14: return UC_ARM_REG_LR;
    case gdb::regs::kPc: return UC_ARM_REG_PC;
    case gdb::regs::kXpsr: return UC_ARM_REG_XPSR;
    case gdb::regs::kFpscr: return UC_ARM_REG_FPSCR;
    case gdb::regs::kMsp: return UC_ARM_REG_MSP;
    case gdb::regs::kPsp: return UC_ARM_REG_PSP;
    case gdb::regs::kPrimask: return UC_ARM_REG_PRIMASK;
    case gdb::regs::kBasepri: return UC_ARM_REG_BASEPRI;
    case gdb::regs::kFaultmask: return UC_ARM_REG_FAULTMASK;
    case gdb::regs::kControl: return UC_ARM_REG_CONTROL;
    default: return UC_ARM_REG_INVALID;
  }
}

// Runs work in a copy of this process and hands back what it wrote to the
// pipe it is given, and whether it ended well; the copy is thrown away, and
// with it whatever the work changed.
std::pair<std::string, bool> inCopy(const std::function<void(int)>& work) {
  int channel[2];
  if (pipe(channel) != 0) {
    return {{}, false};
  }
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    return {{}, false};
  }
  if (child == 0) {
    close(channel[0]);
    work(channel[1]);
    _exit(0);
  }
  close(channel[1]);
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(channel[0], buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;
    }
    bytes.append(buffer, static_cast<size_t>(count));
  }
  close(channel[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return {bytes, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

}  // namespace

std::optional<std::string> Processor::readRegister(unsigned number) {
  const int id = unicornRegister(number);
  if (id == UC_ARM_REG_INVALID) {
    return std::nullopt;
  }
  uint64_t value = 0;
  uc_reg_read(uc_, id, &value);
  return std::string(reinterpret_cast<const char*>(&value), gdb::regs::bytes(number));
}

bool Processor::writeRegister(unsigned number, std::string_view bytes) {
  const int id = unicornRegister(number);
  if (id == UC_ARM_REG_INVALID || bytes.size() != gdb::regs::bytes(number)) {
    return false;
  }
  uint64_t value = 0;
  std::memcpy(&value, bytes.data(), bytes.size());
  uint64_t now = 0;
  uc_reg_read(uc_, id, &now);
  // Unicorn stops at any write of the PC, even of the value it has.
  if (value != now) {
    uc_reg_write(uc_, id, &value);
  }
  return true;
}

std::optional<std::string> Processor::readMemory(uint32_t address, uint32_t length) {
  length = std::min(length, kLargestRead);
  if (deviceSpace(address, 1)) {
    const uint32_t end = address < kSystemBase ? kPeripheralBase + kPeripheralSize : kSystemBase + kSystemSize;
    return peekDevices(address, std::min(length, end - address));
  }
  const std::pair<uint32_t, uint32_t> regions[] = {
      {0, kFlashSize}, {kSramBase, kSramSize}, {kRomBase, rom_ ? kRomSize : 0}};
  for (const auto& [base, size] : regions) {
    if (inside(address, 1, base, size)) {
      std::string bytes(std::min(length, base + size - address), '\0');
      if (uc_mem_read(uc_, address, bytes.data(), bytes.size()) != UC_ERR_OK) {
        return std::nullopt;
      }
      return bytes;
    }
  }
  return std::nullopt;
}

std::optional<std::string> Processor::peekDevices(uint32_t address, uint32_t length) {
  const uint32_t first = address & ~3U;
  const uint32_t words = (address + length - first + 3) / 4;
  const std::string bytes = inCopy([this, first, words](int out) {
    board_.onFault([](const std::string&) { _exit(0); });
    board_.onBusError([](const std::string&) { _exit(0); });
    for (uint32_t index = 0; index < words; ++index) {
      const uint32_t value = board_.debugRead(first + 4 * index);
      if (::write(out, &value, 4) != 4) {
        return;
      }
    }
  }).first;
  const uint32_t skip = address - first;
  if (bytes.size() <= skip) {
    return std::nullopt;
  }
  return bytes.substr(skip, length);
}

bool Processor::writeMemory(uint32_t address, std::string_view bytes) {
  const auto length = static_cast<uint32_t>(bytes.size());
  if (inside(address, length, kSramBase, kSramSize)) {
    return uc_mem_write(uc_, address, bytes.data(), bytes.size()) == UC_ERR_OK;
  }
  // Flash takes the debugger's writes as a flash programmer's (load); the
  // bus cannot write it.
  return deviceSpace(address, length) && writeDevices(address, bytes);
}

// One access of a register, as the code would make it; refused when it
// would end the run (no such register, its block's clock off), which a
// copy of the board tries first.
bool Processor::writeDevices(uint32_t address, std::string_view bytes) {
  const auto size = static_cast<unsigned>(bytes.size());
  if ((size != 1 && size != 2 && size != 4) || (address & (size - 1)) != 0) {
    return false;
  }
  uint32_t value = 0;
  std::memcpy(&value, bytes.data(), size);
  const bool ended = inCopy([this, address, value, size](int) {
                       board_.onFault([](const std::string&) { _exit(1); });
                       board_.onBusError([](const std::string&) { _exit(1); });
                       board_.write(address, value, size);
                     }).second;
  if (ended) {
    board_.write(address, value, size);
  }
  return ended;
}

bool Processor::eraseFlash(uint32_t address, uint32_t length) {
  if (address % kFlashBlock != 0 || !inside(address, length, 0, kFlashSize)) {
    return false;
  }
  const uint32_t end = std::min(kFlashSize, (address + length + kFlashBlock - 1) / kFlashBlock * kFlashBlock);
  std::fill(image_.flash.begin() + address, image_.flash.begin() + end, 0xFF);
  uc_mem_write(uc_, address, image_.flash.data() + address, end - address);
  flashWritten_ = true;
  return true;
}

bool Processor::writeFlash(uint32_t address, std::string_view bytes) {
  if (!inside(address, static_cast<uint32_t>(bytes.size()), 0, kFlashSize)) {
    return false;
  }
  std::memcpy(image_.flash.data() + address, bytes.data(), bytes.size());
  uc_mem_write(uc_, address, bytes.data(), bytes.size());
  flashWritten_ = true;
  return true;
}

bool Processor::watchpoint(bool insert, gdb::Watch type, uint32_t address, uint32_t length) {
  if (length == 0 || (!inside(address, length, kSramBase, kSramSize) && !deviceSpace(address, length))) {
    return false;
  }
  const auto same = [&](const Watchpoint& point) {
    return point.type == type && point.address == address && point.length == length;
  };
  const auto found = std::find_if(watchpoints_.begin(), watchpoints_.end(), same);
  if (insert && found == watchpoints_.end()) {
    watchpoints_.push_back(Watchpoint{type, address, length});
  } else if (!insert && found != watchpoints_.end()) {
    watchpoints_.erase(found);
  }
  return true;
}

std::string Processor::memoryMap() {
  char xml[1024];
  std::snprintf(xml, sizeof xml,
                "<?xml version=\"1.0\"?>\n<!DOCTYPE memory-map PUBLIC \"+//IDN gnu.org//DTD GDB Memory Map V1.0//EN\" "
                "\"http://sourceware.org/gdb/gdb-memory-map.dtd\">\n<memory-map>\n"
                "<memory type=\"flash\" start=\"0x0\" length=\"0x%x\"><property name=\"blocksize\">0x%x</property>"
                "</memory>\n%s<memory type=\"ram\" start=\"0x%x\" length=\"0x%x\"/>\n"
                "<memory type=\"ram\" start=\"0x%x\" length=\"0x%x\"/>\n<memory type=\"ram\" start=\"0x%x\" "
                "length=\"0x%x\"/>\n</memory-map>\n",
                kFlashSize, kFlashBlock, rom_ ? "<memory type=\"rom\" start=\"0x1000000\" length=\"0x10000\"/>\n" : "",
                kSramBase, kSramSize, kPeripheralBase, kPeripheralSize, kSystemBase, kSystemSize);
  return xml;
}

}  // namespace sim
