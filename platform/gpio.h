// General-purpose I/O.
#pragma once

#include <cstdint>

inline constexpr uint8_t GPIO_PIN_0 = 0x01;
inline constexpr uint8_t GPIO_PIN_1 = 0x02;
inline constexpr uint8_t GPIO_PIN_2 = 0x04;
inline constexpr uint8_t GPIO_PIN_3 = 0x08;
inline constexpr uint8_t GPIO_PIN_4 = 0x10;
inline constexpr uint8_t GPIO_PIN_5 = 0x20;
inline constexpr uint8_t GPIO_PIN_6 = 0x40;
inline constexpr uint8_t GPIO_PIN_7 = 0x80;

inline constexpr uint32_t GPIO_INT_PIN_0 = 0x01;
inline constexpr uint32_t GPIO_INT_PIN_1 = 0x02;
inline constexpr uint32_t GPIO_INT_PIN_2 = 0x04;
inline constexpr uint32_t GPIO_INT_PIN_3 = 0x08;
inline constexpr uint32_t GPIO_INT_PIN_4 = 0x10;
inline constexpr uint32_t GPIO_INT_PIN_5 = 0x20;
inline constexpr uint32_t GPIO_INT_PIN_6 = 0x40;
inline constexpr uint32_t GPIO_INT_PIN_7 = 0x80;

// Direction modes: bit 0 output, bit 1 hardware (alternate function).
inline constexpr uint32_t GPIO_DIR_MODE_IN = 0x0;
inline constexpr uint32_t GPIO_DIR_MODE_OUT = 0x1;
inline constexpr uint32_t GPIO_DIR_MODE_HW = 0x2;

// Interrupt types: bit 0 both edges (IBE), bit 1 level (IS), bit 2 rising or
// high (IEV).
inline constexpr uint32_t GPIO_FALLING_EDGE = 0x0;
inline constexpr uint32_t GPIO_BOTH_EDGES = 0x1;
inline constexpr uint32_t GPIO_LOW_LEVEL = 0x2;
inline constexpr uint32_t GPIO_RISING_EDGE = 0x4;
inline constexpr uint32_t GPIO_HIGH_LEVEL = 0x6;

// Drive strengths: bit 0 DR2R, bit 1 DR4R, bit 2 DR8R, bit 3 slew-rate
// control. This chip's pads stop at 8 mA, so the stronger requests get the
// 8 mA drive.
inline constexpr uint32_t GPIO_STRENGTH_2MA = 0x1;
inline constexpr uint32_t GPIO_STRENGTH_4MA = 0x2;
inline constexpr uint32_t GPIO_STRENGTH_8MA = 0x4;
inline constexpr uint32_t GPIO_STRENGTH_8MA_SC = 0xC;
inline constexpr uint32_t GPIO_STRENGTH_12MA = 0x14;

// Pad types: bit 0 open drain, bit 1 pull-up, bit 2 pull-down, bit 3 digital
// enable; no bit at all is the analogue pad.
inline constexpr uint32_t GPIO_PIN_TYPE_ANALOG = 0x0;
inline constexpr uint32_t GPIO_PIN_TYPE_OD = 0x9;
inline constexpr uint32_t GPIO_PIN_TYPE_STD = 0x8;
inline constexpr uint32_t GPIO_PIN_TYPE_STD_WPU = 0xA;
inline constexpr uint32_t GPIO_PIN_TYPE_STD_WPD = 0xC;

// Pin functions for GPIOPinConfigure: port index (A = 0) in bits 23:16, the
// pin's shift in PCTL in bits 15:8, the function in bits 3:0.
inline constexpr uint32_t GPIO_PA0_U0RX = 0x00000001;
inline constexpr uint32_t GPIO_PA1_U0TX = 0x00000401;
inline constexpr uint32_t GPIO_PB0_U1RX = 0x00010001;
inline constexpr uint32_t GPIO_PB1_U1TX = 0x00010401;
inline constexpr uint32_t GPIO_PC4_U4RX = 0x00021001;
inline constexpr uint32_t GPIO_PC5_U4TX = 0x00021401;
inline constexpr uint32_t GPIO_PC6_U3RX = 0x00021801;
inline constexpr uint32_t GPIO_PC7_U3TX = 0x00021C01;
inline constexpr uint32_t GPIO_PD4_U6RX = 0x00031001;
inline constexpr uint32_t GPIO_PD5_U6TX = 0x00031401;
inline constexpr uint32_t GPIO_PD6_U2RX = 0x00031801;
inline constexpr uint32_t GPIO_PD7_U2TX = 0x00031C01;
inline constexpr uint32_t GPIO_PE0_U7RX = 0x00040001;
inline constexpr uint32_t GPIO_PE1_U7TX = 0x00040401;
inline constexpr uint32_t GPIO_PE4_U5RX = 0x00041001;
inline constexpr uint32_t GPIO_PE5_U5TX = 0x00041401;

void GPIODirModeSet(uint32_t port, uint8_t pins, uint32_t mode);
void GPIOPadConfigSet(uint32_t port, uint8_t pins, uint32_t strength, uint32_t padType);
void GPIOPinTypeGPIOOutput(uint32_t port, uint8_t pins);
void GPIOPinTypeGPIOInput(uint32_t port, uint8_t pins);
void GPIOPinTypeUART(uint32_t port, uint8_t pins);
void GPIOPinTypeADC(uint32_t port, uint8_t pins);
void GPIOPinConfigure(uint32_t pinConfig);
// Sets the masked pins to the value's bits; the others keep their level.
void GPIOPinWrite(uint32_t port, uint8_t pins, uint8_t value);
[[nodiscard]] int32_t GPIOPinRead(uint32_t port, uint8_t pins);
// Unlocks the commit register for a locked pin (PF0, PD7).
void GPIOUnlockPin(uint32_t port, uint8_t pins);
void GPIOIntRegister(uint32_t port, void (*handler)());
void GPIOIntTypeSet(uint32_t port, uint8_t pins, uint32_t type);
void GPIOIntEnable(uint32_t port, uint32_t flags);
void GPIOIntDisable(uint32_t port, uint32_t flags);
// Raw status with masked false, bit n for pin n.
[[nodiscard]] uint32_t GPIOIntStatus(uint32_t port, bool masked);
void GPIOIntClear(uint32_t port, uint32_t flags);
