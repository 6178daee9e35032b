// The simulated board's ROM API table: the driver layer's own operations at
// the chip's group and index positions. Entries the board does not offer
// stop the run.
#include <array>

#include "platform/driverlib.h"
#include "platform/hw.h"
#include "sim/board.h"

namespace {

constexpr unsigned kGroups = 32;
constexpr unsigned kEntries = 64;

void notOffered() { sim::board().fault("ROM operation not offered by the simulated board"); }

template <typename Function>
uintptr_t entry(Function function) {
  return reinterpret_cast<uintptr_t>(function);
}

struct RomTables {
  std::array<std::array<uintptr_t, kEntries>, kGroups> groups{};
  std::array<uintptr_t, kGroups> api{};

  RomTables() {
    for (unsigned group = 0; group < kGroups; ++group) {
      groups[group].fill(entry(&notOffered));
      api[group] = reinterpret_cast<uintptr_t>(groups[group].data());
    }
    auto& uart = groups[1];
    uart[5] = entry(&UARTConfigSetExpClk);
    uart[11] = entry(&UARTCharsAvail);
    uart[13] = entry(&UARTCharGetNonBlocking);
    uart[15] = entry(&UARTCharPutNonBlocking);
    uart[17] = entry(&UARTIntEnable);
    uart[19] = entry(&UARTIntStatus);
    uart[20] = entry(&UARTIntClear);
    auto& gpio = groups[4];
    gpio[15] = entry(&GPIOPinTypeGPIOOutput);
    gpio[21] = entry(&GPIOPinTypeUART);
    auto& sysctl = groups[13];
    sysctl[6] = entry(&SysCtlPeripheralEnable);
    sysctl[23] = entry(&SysCtlClockSet);
    sysctl[24] = entry(&SysCtlClockGet);
    auto& interrupt = groups[14];
    interrupt[0] = entry(&IntEnable);
    interrupt[1] = entry(&IntMasterEnable);
    auto& fpu = groups[26];
    fpu[0] = entry(&FPUEnable);
    fpu[4] = entry(&FPULazyStackingEnable);
  }
};

}  // namespace

namespace hw {

const uintptr_t* romApiTable() {
  static const RomTables tables;
  return tables.api.data();
}

}  // namespace hw
