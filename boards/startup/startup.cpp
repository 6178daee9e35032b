// Start-up of an image: its vector table at address 0, the reset entry, and
// the handlers of everything the image does not handle itself. The image's
// own entries, and whether it has data to initialise, come from its
// vectors.h.
#include "boards/startup/vector_table.h"
#include "platform/hw.h"
#include "vectors.h"

int main();

extern "C" {
// Top of the stack, from the linker script: the end of the stack region at
// the start of SRAM.
extern uint32_t __STACK_TOP;
}

namespace {

constexpr uint32_t kCoprocessorAccess = 0xE000ED88;
constexpr uint32_t kFullFpuAccess = 0xFU << 20;

// A fault or an interrupt with no handler of its own stops here until reset.
void NmiSR() { hw::spinForever(); }
void FaultISR() { hw::spinForever(); }
void IntDefaultHandler() { hw::spinForever(); }

}  // namespace

extern "C" void ResetISR() {
  hw::resetStackPointer();
  // The FPU first: static constructors compiled for hard float may use it.
  hw::write32(kCoprocessorAccess, hw::read32(kCoprocessorAccess) | kFullFpuAccess);
  hw::synchronise();
  if constexpr (image::kInitialisesData) {
    hw::initialiseData();
  }
  main();
  hw::spinForever();
}

extern "C" __attribute__((section(".intvecs"), used))
const std::array<startup::Vector, startup::kEntries> g_pfnVectors =
    startup::vectorTable(&__STACK_TOP, ResetISR, NmiSR, FaultISR, IntDefaultHandler, image::kVectorFills);
