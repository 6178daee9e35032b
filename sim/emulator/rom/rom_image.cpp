// The ROM of the emulated board: the project's own driver operations, built
// for the chip, at the group and index positions of the chip's ROM API
// table, which stands at 0x01000010. Entries not offered hold 0: calling one
// stops the emulated run.
#include <cstdint>

#include "platform/driverlib.h"

namespace {

// Addresses of functions are constants the linker fills in: the tables are
// initialised in the image itself, with no code at start.
using Entry = const void*;
constexpr Entry none = nullptr;

const Entry uart[] = {none, none, none, none, none, reinterpret_cast<Entry>(&UARTConfigSetExpClk), none, none, none, none, none,
                      reinterpret_cast<Entry>(&UARTCharsAvail), none, reinterpret_cast<Entry>(&UARTCharGetNonBlocking), none, reinterpret_cast<Entry>(&UARTCharPutNonBlocking), none,
                      reinterpret_cast<Entry>(&UARTIntEnable), none, reinterpret_cast<Entry>(&UARTIntStatus), reinterpret_cast<Entry>(&UARTIntClear)};
const Entry gpio[] = {none, none, none, none, none, none, none, none, none, none, none, none, none, none, none,
                      reinterpret_cast<Entry>(&GPIOPinTypeGPIOOutput), none, none, none, none, none, reinterpret_cast<Entry>(&GPIOPinTypeUART)};
const Entry sysctl[] = {none, none, none, none, none, none, reinterpret_cast<Entry>(&SysCtlPeripheralEnable), none, none, none, none, none,
                        none, none, none, none, none, none, none, none, none, none, none, reinterpret_cast<Entry>(&SysCtlClockSet),
                        reinterpret_cast<Entry>(&SysCtlClockGet)};
const Entry interrupt[] = {reinterpret_cast<Entry>(&IntEnable), reinterpret_cast<Entry>(&IntMasterEnable)};
const Entry fpu[] = {reinterpret_cast<Entry>(&FPUEnable), none, none, none, reinterpret_cast<Entry>(&FPULazyStackingEnable)};

}  // namespace

// The API table: one group table a slot.
extern "C" __attribute__((section(".apitable"), used)) const Entry romApiTable[32] = {
    none, uart, none, none, gpio, none, none, none, none, none, none, none, none, sysctl, interrupt, none,
    none, none, none, none, none, none, none, none, none, none, fpu,  none, none, none, none, none};
