// Millisecond wait of the SMS driver.
#pragma once

void delay_ms(int milliseconds);
