// The tracker firmware's bring-up, in the order the tracker requires.
#pragma once

namespace entry {

// UART2, reserved for a position source: 9600 baud 8N1 on PD6/PD7.
void setUpPositionLink();
// setPins first, the duties' clock, then the link the handlers switch off
// and on, the tracker's set-up operations, and the position source.
void bringUp();

}  // namespace entry
