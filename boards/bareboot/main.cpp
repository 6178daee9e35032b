// The minimal bootable image: it starts, and does nothing for ever.
#include "platform/hw.h"

int main() { hw::spinForever(); }
