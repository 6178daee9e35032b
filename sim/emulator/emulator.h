// The emulated board: the target build's ARM image executed by a Cortex-M4
// emulator (Unicorn) on the same device models as the simulated board. The
// processor's exception model (entry, return, priorities, PRIMASK, VTOR)
// is ours; time advances by the code executed and by the skipped waits.
#pragma once

#include <string>

namespace sim {

class Board;

// Runs the image (its ELF file; the flash contents are its loadable
// sections) from reset on the board of this run, until the run's end or a
// fault, with the ROM image at 0x01000000 when there is one. Never returns.
[[noreturn]] void emulateImage(Board& board, const std::string& elfPath, const std::string& romPath);

}  // namespace sim
