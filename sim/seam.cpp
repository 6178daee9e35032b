// The host side of the hardware seam: every access goes to the board model.
#include "platform/hw.h"
#include "sim/board.h"

namespace hw {

uint32_t read32(uint32_t address) { return sim::board().read(address, 4); }
uint16_t read16(uint32_t address) { return static_cast<uint16_t>(sim::board().read(address, 2)); }
uint8_t read8(uint32_t address) { return static_cast<uint8_t>(sim::board().read(address, 1)); }
void write32(uint32_t address, uint32_t value) { sim::board().write(address, value, 4); }
void write16(uint32_t address, uint16_t value) { sim::board().write(address, value, 2); }
void write8(uint32_t address, uint8_t value) { sim::board().write(address, value, 1); }
void delayLoop(uint32_t passes) { sim::board().delayLoop(passes); }
void waitForInterrupt() { sim::board().waitForInterrupt(); }
bool enableInterrupts() { return sim::board().setInterruptsDisabled(false); }
bool disableInterrupts() { return sim::board().setInterruptsDisabled(true); }
const Handler* vectorTable() { return sim::board().vectorTable(); }
void setVectorTable(Handler* table) { sim::board().setVectorTable(table); }
void synchronise() {}
void spinForever() { sim::board().idleForever(); }
void accountCycles(uint32_t cycles) { sim::board().advanceCycles(cycles); }
// The host process starts with its stack and data in place.
void resetStackPointer() {}
void initialiseData() { sim::board().initialiseData(); }

}  // namespace hw
