// The tracker firmware's bring-up, in the order the tracker requires.
#pragma once

namespace entry {

// UART2, reserved for a position source: 9600 baud 8N1 on PD6/PD7.
void setUpPositionLink();
// setPins first, then the link the handlers switch off and on, then the
// tracker's set-up operations.
void bringUp();

}  // namespace entry
