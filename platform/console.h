// Standard output of the firmware (printf, puts): the console on UART0,
// once it is set up; dropped before that.
#pragma once

#include <cstddef>

void consoleWrite(const char* data, size_t size);
