// What the chip's linker script defines for an image. On the host the
// process has its own stack; entry 0 of an image's table only needs an
// address to hold.
#include <cstdint>

extern "C" {
uint32_t __STACK_TOP = 0;
}
