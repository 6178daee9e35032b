// TM4C123GH6PM register map: block base addresses, register offsets and bit
// fields, from the data sheet.
#pragma once

#include <cstdint>

namespace reg {

// System control.
namespace sysctl {
inline constexpr uint32_t kBase = 0x400FE000;
inline constexpr uint32_t kRis = 0x050;
inline constexpr uint32_t kMisc = 0x058;  // write 1 to clear a RIS bit
inline constexpr uint32_t kRcc = 0x060;
inline constexpr uint32_t kRcc2 = 0x070;
inline constexpr uint32_t kMoscCtl = 0x07C;
inline constexpr uint32_t kPllStat = 0x168;
// Run-mode clock gating (RCGCx) from 0x600 and peripheral ready (PRx) from
// 0xA00, one word per class; a peripheral code names the word and the bit.
inline constexpr uint32_t kRunClockGating = 0x600;
inline constexpr uint32_t kPeripheralReady = 0xA00;
inline constexpr uint32_t kGpioClass = 0x08;
inline constexpr uint32_t kTimerClass = 0x04;
inline constexpr uint32_t kUartClass = 0x18;
inline constexpr uint32_t kAdcClass = 0x38;

inline constexpr uint32_t kRisPllLock = 1U << 6;
inline constexpr uint32_t kRisMainOscPowerUp = 1U << 8;
inline constexpr uint32_t kPllStatLock = 1U << 0;

// RCC fields.
inline constexpr uint32_t kRccMainOscDisable = 1U << 0;
inline constexpr uint32_t kRccInternalOscDisable = 1U << 1;
inline constexpr uint32_t kRccOscSourceMask = 0x3U << 4;
inline constexpr uint32_t kRccXtalShift = 6;
inline constexpr uint32_t kRccXtalMask = 0x1FU << kRccXtalShift;
inline constexpr uint32_t kRccBypass = 1U << 11;
inline constexpr uint32_t kRccPllOutputEnable = 1U << 12;
inline constexpr uint32_t kRccPowerDown = 1U << 13;
inline constexpr uint32_t kRccUseSysDiv = 1U << 22;
inline constexpr uint32_t kRccSysDivShift = 23;
inline constexpr uint32_t kRccSysDivMask = 0xFU << kRccSysDivShift;
// RCC2 fields.
inline constexpr uint32_t kRcc2OscSourceShift = 4;
inline constexpr uint32_t kRcc2OscSourceMask = 0x7U << kRcc2OscSourceShift;
inline constexpr uint32_t kRcc2Bypass = 1U << 11;
inline constexpr uint32_t kRcc2PowerDown = 1U << 13;
inline constexpr uint32_t kRcc2SysDiv2LsbShift = 22;  // with DIV400: 7-bit divisor from bit 22
inline constexpr uint32_t kRcc2SysDiv2Shift = 23;
inline constexpr uint32_t kRcc2SysDiv2Mask = 0x3FU << kRcc2SysDiv2Shift;
inline constexpr uint32_t kRcc2SysDiv400Mask = 0x7FU << kRcc2SysDiv2LsbShift;
inline constexpr uint32_t kRcc2Div400 = 1U << 30;
inline constexpr uint32_t kRcc2UseRcc2 = 1U << 31;

inline constexpr uint32_t kResetRcc = 0x078E3AD1;
inline constexpr uint32_t kResetRcc2 = 0x07C06810;
}  // namespace sysctl

// GPIO ports on the APB.
namespace gpio {
inline constexpr uint32_t kPortA = 0x40004000;
inline constexpr uint32_t kPortB = 0x40005000;
inline constexpr uint32_t kPortC = 0x40006000;
inline constexpr uint32_t kPortD = 0x40007000;
inline constexpr uint32_t kPortE = 0x40024000;
inline constexpr uint32_t kPortF = 0x40025000;
inline constexpr uint32_t kPorts[] = {kPortA, kPortB, kPortC, kPortD, kPortE, kPortF};

// The data register spans 0x000-0x3FC: address bits 9:2 mask the pins.
inline constexpr uint32_t kData = 0x000;
inline constexpr uint32_t kDataEnd = 0x3FC;
inline constexpr uint32_t kDir = 0x400;
inline constexpr uint32_t kIs = 0x404;
inline constexpr uint32_t kIbe = 0x408;
inline constexpr uint32_t kIev = 0x40C;
inline constexpr uint32_t kIm = 0x410;
inline constexpr uint32_t kRis = 0x414;
inline constexpr uint32_t kMis = 0x418;
inline constexpr uint32_t kIcr = 0x41C;
inline constexpr uint32_t kAfsel = 0x420;
inline constexpr uint32_t kDr2r = 0x500;
inline constexpr uint32_t kDr4r = 0x504;
inline constexpr uint32_t kDr8r = 0x508;
inline constexpr uint32_t kOdr = 0x50C;
inline constexpr uint32_t kPur = 0x510;
inline constexpr uint32_t kPdr = 0x514;
inline constexpr uint32_t kSlr = 0x518;
inline constexpr uint32_t kDen = 0x51C;
inline constexpr uint32_t kLock = 0x520;
inline constexpr uint32_t kCr = 0x524;
inline constexpr uint32_t kAmsel = 0x528;
inline constexpr uint32_t kPctl = 0x52C;
inline constexpr uint32_t kAdcCtl = 0x530;
inline constexpr uint32_t kDmaCtl = 0x534;
inline constexpr uint32_t kUnlockKey = 0x4C4F434B;
}  // namespace gpio

namespace uart {
inline constexpr uint32_t kUart0 = 0x4000C000;
inline constexpr uint32_t kSpacing = 0x1000;  // UART0 to UART7 follow one another
inline constexpr unsigned kCount = 8;

inline constexpr uint32_t kDr = 0x000;
inline constexpr uint32_t kRsr = 0x004;  // read: receive status; write: error clear
inline constexpr uint32_t kFr = 0x018;
inline constexpr uint32_t kIlpr = 0x020;
inline constexpr uint32_t kIbrd = 0x024;
inline constexpr uint32_t kFbrd = 0x028;
inline constexpr uint32_t kLcrh = 0x02C;
inline constexpr uint32_t kCtl = 0x030;
inline constexpr uint32_t kIfls = 0x034;
inline constexpr uint32_t kIm = 0x038;
inline constexpr uint32_t kRis = 0x03C;
inline constexpr uint32_t kMis = 0x040;
inline constexpr uint32_t kIcr = 0x044;
inline constexpr uint32_t kDmaCtl = 0x048;
inline constexpr uint32_t kCc = 0xFC8;

inline constexpr uint32_t kFrBusy = 1U << 3;
inline constexpr uint32_t kFrRxEmpty = 1U << 4;
inline constexpr uint32_t kFrTxFull = 1U << 5;
inline constexpr uint32_t kFrRxFull = 1U << 6;
inline constexpr uint32_t kFrTxEmpty = 1U << 7;

inline constexpr uint32_t kLcrhParityEnable = 1U << 1;
inline constexpr uint32_t kLcrhTwoStopBits = 1U << 3;
inline constexpr uint32_t kLcrhFifoEnable = 1U << 4;
inline constexpr uint32_t kLcrhWordLengthShift = 5;
inline constexpr uint32_t kLcrhWordLengthMask = 0x3U << kLcrhWordLengthShift;

inline constexpr uint32_t kCtlEnable = 1U << 0;
inline constexpr uint32_t kCtlHighSpeed = 1U << 5;
inline constexpr uint32_t kCtlTxEnable = 1U << 8;
inline constexpr uint32_t kCtlRxEnable = 1U << 9;

// Interrupt bits, the same in IM, RIS, MIS and ICR.
inline constexpr uint32_t kIntRx = 1U << 4;
inline constexpr uint32_t kIntTx = 1U << 5;
inline constexpr uint32_t kIntRxTimeout = 1U << 6;
inline constexpr uint32_t kIntFraming = 1U << 7;
inline constexpr uint32_t kIntParity = 1U << 8;
inline constexpr uint32_t kIntBreak = 1U << 9;
inline constexpr uint32_t kIntOverrun = 1U << 10;

// Receive-status bits of a DR read (bits 11:8) and of RSR (bits 3:0).
inline constexpr uint32_t kDrFraming = 1U << 8;
inline constexpr uint32_t kDrOverrun = 1U << 11;
inline constexpr uint32_t kRsrOverrun = 1U << 3;

inline constexpr uint32_t kResetCtl = kCtlTxEnable | kCtlRxEnable;
inline constexpr uint32_t kResetIfls = 0x12;  // both FIFO levels at half
}  // namespace uart

namespace timer {
inline constexpr uint32_t kTimer0 = 0x40030000;
inline constexpr uint32_t kSpacing = 0x1000;
inline constexpr unsigned kCount = 6;

inline constexpr uint32_t kCfg = 0x000;
inline constexpr uint32_t kTamr = 0x004;
inline constexpr uint32_t kTbmr = 0x008;
inline constexpr uint32_t kCtl = 0x00C;
inline constexpr uint32_t kImr = 0x018;
inline constexpr uint32_t kRis = 0x01C;
inline constexpr uint32_t kMis = 0x020;
inline constexpr uint32_t kIcr = 0x024;
inline constexpr uint32_t kTailr = 0x028;
inline constexpr uint32_t kTbilr = 0x02C;
inline constexpr uint32_t kTamatchr = 0x030;
inline constexpr uint32_t kTbmatchr = 0x034;
inline constexpr uint32_t kTapr = 0x038;
inline constexpr uint32_t kTbpr = 0x03C;
inline constexpr uint32_t kTar = 0x048;
inline constexpr uint32_t kTbr = 0x04C;
inline constexpr uint32_t kTav = 0x050;
inline constexpr uint32_t kTbv = 0x054;

inline constexpr uint32_t kModeMask = 0x3;
inline constexpr uint32_t kModeOneShot = 0x1;
inline constexpr uint32_t kModePeriodic = 0x2;
inline constexpr uint32_t kModeCountUp = 1U << 4;
inline constexpr uint32_t kCtlTimerAEnable = 1U << 0;
inline constexpr uint32_t kCtlTimerBEnable = 1U << 8;
inline constexpr uint32_t kIntTimerATimeout = 1U << 0;
inline constexpr uint32_t kIntTimerBTimeout = 1U << 8;
}  // namespace timer

namespace adc {
inline constexpr uint32_t kAdc0 = 0x40038000;
inline constexpr uint32_t kAdc1 = 0x40039000;

inline constexpr uint32_t kActss = 0x000;
inline constexpr uint32_t kRis = 0x004;
inline constexpr uint32_t kIm = 0x008;
inline constexpr uint32_t kIsc = 0x00C;
inline constexpr uint32_t kOstat = 0x010;
inline constexpr uint32_t kEmux = 0x014;
inline constexpr uint32_t kUstat = 0x018;
inline constexpr uint32_t kSspri = 0x020;
inline constexpr uint32_t kPssi = 0x028;
inline constexpr uint32_t kSac = 0x030;
inline constexpr uint32_t kCtl = 0x038;
// Sample sequencer n: SSMUXn, SSCTLn, SSFIFOn, SSFSTATn from 0x040 + 0x20 * n.
inline constexpr uint32_t kSequencer0 = 0x040;
inline constexpr uint32_t kSequencerSpacing = 0x20;
inline constexpr uint32_t kSsMux = 0x0;
inline constexpr uint32_t kSsCtl = 0x4;
inline constexpr uint32_t kSsFifo = 0x8;
inline constexpr uint32_t kSsFifoStatus = 0xC;
inline constexpr uint32_t kPc = 0xFC4;

inline constexpr uint32_t kFifoEmpty = 1U << 8;
inline constexpr uint32_t kFifoFull = 1U << 12;
// Step control nibble: D, END, IE, TS.
inline constexpr uint32_t kStepEnd = 1U << 1;
inline constexpr uint32_t kStepInterrupt = 1U << 2;
inline constexpr uint32_t kTriggerProcessor = 0x0;
}  // namespace adc

// Processor core: NVIC and system control block.
namespace core {
inline constexpr uint32_t kSystemTickControl = 0xE000E010;
inline constexpr uint32_t kSystemTickReload = 0xE000E014;
inline constexpr uint32_t kSystemTickCurrent = 0xE000E018;
inline constexpr uint32_t kInterruptSetEnable = 0xE000E100;
inline constexpr uint32_t kInterruptClearEnable = 0xE000E180;
inline constexpr uint32_t kInterruptSetPending = 0xE000E200;
inline constexpr uint32_t kInterruptClearPending = 0xE000E280;
inline constexpr uint32_t kInterruptActive = 0xE000E300;
inline constexpr uint32_t kInterruptPriority = 0xE000E400;  // one byte per device interrupt
inline constexpr uint32_t kCpuId = 0xE000ED00;
inline constexpr uint32_t kInterruptControl = 0xE000ED04;
inline constexpr uint32_t kVectorTableOffset = 0xE000ED08;
inline constexpr uint32_t kApplicationInterrupt = 0xE000ED0C;
inline constexpr uint32_t kSystemControl = 0xE000ED10;
inline constexpr uint32_t kConfigurationControl = 0xE000ED14;
inline constexpr uint32_t kSystemPriority = 0xE000ED18;  // bytes for exceptions 4 to 15
inline constexpr uint32_t kSystemHandlerControl = 0xE000ED24;
inline constexpr uint32_t kConfigurableFaultStatus = 0xE000ED28;
inline constexpr uint32_t kHardFaultStatus = 0xE000ED2C;
inline constexpr uint32_t kMemManageFaultAddress = 0xE000ED34;
inline constexpr uint32_t kBusFaultAddress = 0xE000ED38;
inline constexpr uint32_t kCoprocessorAccess = 0xE000ED88;
inline constexpr uint32_t kSoftwareTrigger = 0xE000EF00;
inline constexpr uint32_t kFpContextControl = 0xE000EF34;
inline constexpr uint32_t kFpContextAddress = 0xE000EF38;

inline constexpr unsigned kDeviceInterrupts = 139;
inline constexpr unsigned kFirstDeviceVector = 16;
inline constexpr uint32_t kFullFpuAccess = 0xFU << 20;  // CP10 and CP11
inline constexpr uint32_t kFpAutomaticStateSave = 1U << 31;
inline constexpr uint32_t kFpLazyStateSave = 1U << 30;
inline constexpr unsigned kPriorityBits = 3;  // implemented bits, at the top of each byte
}  // namespace core

}  // namespace reg
