// Clock, gating, timers, GPIO interrupts, the interrupt controller, the ADC
// and the ROM table, run as board runs through the driver layer.
#include <gtest/gtest.h>

#include "platform/driverlib.h"
#include "platform/hw.h"
#include "platform/rom.h"
#include "sim/sim.h"

namespace {

using namespace sim;

void clockAt50MHz() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
}

std::vector<std::string> noteTexts(const Outcome& run) {
  std::vector<std::string> texts;
  for (const auto& [time, text] : run.notes()) {
    texts.push_back(text);
  }
  return texts;
}

TEST(Clock, DecodesTheConfigurationsTheProgramsUse) {
  Bench bench;
  const auto run = bench.run(
      [] {
        note(std::to_string(SysCtlClockGet()));  // reset: internal 16 MHz oscillator
        clockAt50MHz();
        note(std::to_string(SysCtlClockGet()));
        SysCtlClockSet(SYSCTL_SYSDIV_1 | SYSCTL_USE_OSC | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        note(std::to_string(SysCtlClockGet()));
        SysCtlClockSet(SYSCTL_SYSDIV_2_5 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        note(std::to_string(SysCtlClockGet()));
        SysCtlClockSet(SYSCTL_SYSDIV_10 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        note(std::to_string(SysCtlClockGet()));
      },
      milliseconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteTexts(run),
            (std::vector<std::string>{"16000000", "50000000", "16000000", "80000000", "20000000"}));
}

TEST(Clock, DelayLoopCostsThreeCyclesAPassAtTheCurrentClock) {
  Bench bench;
  const auto run = bench.run(
      [] {
        note("a");
        SysCtlDelay(1000);  // 3000 cycles at 16 MHz
        note("b");
        clockAt50MHz();
        note("c");
        SysCtlDelay(SysCtlClockGet() / 3000);  // the millisecond wait
        note("d");
      },
      milliseconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto notes = run.notes();
  EXPECT_EQ(notes[1].first - notes[0].first, 3000 * nanoseconds(1000) / 16);
  // 16666 passes of 60 ns, plus the register reads of SysCtlClockGet.
  EXPECT_EQ(notes[3].first - notes[2].first, 16666 * nanoseconds(60) + 2 * 4 * nanoseconds(20));
}

TEST(ClockGating, AnUnclockedPeripheralFaultsWithItsAddress) {
  Bench bench;
  const auto run = bench.run([] { UARTCharPut(UART4_BASE, 'x'); }, milliseconds(1));
  ASSERT_FALSE(run.ok());
  EXPECT_NE(run.failure().find("32-bit read at 0x40010018: UART4 has its clock off"), std::string::npos)
      << run.failure();
  EXPECT_NE(run.failure().find("fault at 0.000000000000"), std::string::npos) << run.failure();
}

TEST(ClockGating, ReadyFollowsTheEnableAndDisableClosesTheGate) {
  Bench bench;
  const auto run = bench.run(
      [] {
        note(SysCtlPeripheralReady(SYSCTL_PERIPH_GPIOF) ? "ready" : "not ready");
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
        note(SysCtlPeripheralReady(SYSCTL_PERIPH_GPIOF) ? "ready" : "not ready");
        GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_1);
        SysCtlPeripheralDisable(SYSCTL_PERIPH_GPIOF);
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1, GPIO_PIN_1);
      },
      milliseconds(1));
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"not ready", "ready"}));
  EXPECT_NE(run.failure().find("32-bit write at 0x40025008: GPIO port F has its clock off"), std::string::npos)
      << run.failure();
}

TEST(Faults, AnUnmappedAddressAndAMissingHandlerStopTheRun) {
  Bench bench;
  const auto unmapped = bench.run([] { (void)hw::read32(0x40080000); }, milliseconds(1));
  EXPECT_NE(unmapped.failure().find("32-bit read at 0x40080000: nothing is mapped there"), std::string::npos)
      << unmapped.failure();

  // An enabled timer interrupt whose flash entry is empty.
  const auto missing = bench.run(
      [] {
        SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER2);
        TimerConfigure(TIMER2_BASE, TIMER_CFG_ONE_SHOT);
        TimerLoadSet(TIMER2_BASE, TIMER_A, 1600);
        TimerIntEnable(TIMER2_BASE, TIMER_TIMA_TIMEOUT);
        IntEnable(INT_TIMER2A);
        IntMasterEnable();
        TimerEnable(TIMER2_BASE, TIMER_A);
      },
      milliseconds(1));
  EXPECT_NE(missing.failure().find("interrupt 39 taken with no handler"), std::string::npos)
      << missing.failure();

  // The host program cannot start again: a reset request says so.
  const auto reset = bench.run([] { hw::write32(0xE000ED0C, 0x05FA0004); }, milliseconds(1));
  EXPECT_NE(reset.failure().find("SYSRESETREQ: the simulated board cannot restart"), std::string::npos) << reset.failure();
}

void systemTick() { note("tick"); }

TEST(Timers, SysTickTakesExceptionFifteenEveryReloadPlusOneClocks) {
  Bench bench;
  const auto run = bench.run(
      [] {
        IntRegister(15, systemTick);
        hw::write32(0xE000E014, 15999);  // RELOAD: a millisecond at 16 MHz
        hw::write32(0xE000E018, 0);
        hw::write32(0xE000E010, 7);  // ENABLE, TICKINT, CLKSOURCE
      },
      microseconds(5500));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto ticks = run.interrupts(15);
  ASSERT_EQ(ticks.size(), 5U);
  for (size_t index = 1; index < ticks.size(); ++index) {
    EXPECT_EQ(ticks[index] - ticks[index - 1], milliseconds(1));
  }
}

void reportTick() { TimerIntClear(TIMER1_BASE, TIMER_TIMA_TIMEOUT); }

TEST(Timers, FortySecondsPeriodicFiresExactlyOnItsPeriod) {
  Bench bench;
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER1);
        TimerConfigure(TIMER1_BASE, TIMER_CFG_PERIODIC);
        TimerLoadSet(TIMER1_BASE, TIMER_A, SysCtlClockGet() * 40);
        TimerIntRegister(TIMER1_BASE, TIMER_A, reportTick);
        TimerIntEnable(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
        note("enabled");
        TimerEnable(TIMER1_BASE, TIMER_A);
        IntMasterEnable();
      },
      seconds(125));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto ticks = run.interrupts(INT_TIMER1A);
  ASSERT_EQ(ticks.size(), 3U);
  EXPECT_EQ(ticks[1] - ticks[0], seconds(40));
  EXPECT_EQ(ticks[2] - ticks[1], seconds(40));
  // The enable write lands after the note's following read of CTL.
  EXPECT_EQ(ticks[0] - run.notes()[0].first, seconds(40) + 4 * nanoseconds(20));
}

TEST(Timers, DisablingHoldsTheCountAndEnablingResumesIt) {
  Bench bench;
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER1);
        TimerConfigure(TIMER1_BASE, TIMER_CFG_PERIODIC);
        TimerLoadSet(TIMER1_BASE, TIMER_A, 2000000000);
        TimerIntRegister(TIMER1_BASE, TIMER_A, reportTick);
        TimerIntEnable(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
        IntMasterEnable();
        TimerEnable(TIMER1_BASE, TIMER_A);
        runUntil(seconds(10));
        TimerDisable(TIMER1_BASE, TIMER_A);
        const uint32_t held = TimerValueGet(TIMER1_BASE, TIMER_A);
        runUntil(seconds(30));
        note(std::to_string(held) + " " + std::to_string(TimerValueGet(TIMER1_BASE, TIMER_A)));
        TimerEnable(TIMER1_BASE, TIMER_A);
      },
      seconds(70));
  ASSERT_TRUE(run.ok()) << run.failure();
  const auto notes = run.notes();
  ASSERT_EQ(notes.size(), 1U);
  const auto space = notes[0].second.find(' ');
  EXPECT_EQ(notes[0].second.substr(0, space), notes[0].second.substr(space + 1));
  const uint32_t held = static_cast<uint32_t>(std::stoul(notes[0].second.substr(0, space)));
  // 10 s counted (less the ~100 us of bring-up), 20 s held, the remaining
  // 30 s after the restart.
  EXPECT_NEAR(held, 1500000000U, 10000U);
  const auto ticks = run.interrupts(INT_TIMER1A);
  ASSERT_EQ(ticks.size(), 1U);
  EXPECT_NEAR(static_cast<double>(ticks[0]), static_cast<double>(seconds(60)), 2e8);
}

// Handlers of two timers with long busy waits, at the tracker's priorities.
void slowFirst() {
  TimerIntClear(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
  note("first in");
  SysCtlDelay(SysCtlClockGet() / 3000 * 50);
  note("first out");
}
void slowSecond() {
  TimerIntClear(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
  note("second in");
  SysCtlDelay(SysCtlClockGet() / 3000 * 50);
  note("second out");
}

void startTimer(uint32_t base, uint32_t peripheral, uint32_t interrupt, uint32_t load, void (*handler)(),
                uint8_t priority) {
  SysCtlPeripheralEnable(peripheral);
  TimerConfigure(base, TIMER_CFG_PERIODIC);
  TimerLoadSet(base, TIMER_A, load);
  TimerIntRegister(base, TIMER_A, handler);
  TimerIntEnable(base, TIMER_TIMA_TIMEOUT);
  IntPrioritySet(interrupt, priority);
  TimerEnable(base, TIMER_A);
}

TEST(Interrupts, PrioritiesOneToFiveAreOneLevelSoNoHandlerPreempts) {
  Bench bench;
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        for (uint8_t priority : {1, 2, 3, 5}) {
          IntPrioritySet(INT_UART4, priority);
          note(std::to_string(IntPriorityGet(INT_UART4)));
        }
        // Every 10 ms and every 1 ms, each handler busy for 50 ms.
        startTimer(TIMER0_BASE, SYSCTL_PERIPH_TIMER0, INT_TIMER0A, 500000, slowFirst, 5);
        startTimer(TIMER1_BASE, SYSCTL_PERIPH_TIMER1, INT_TIMER1A, 50000, slowSecond, 1);
        IntMasterEnable();
      },
      milliseconds(260));
  ASSERT_TRUE(run.ok()) << run.failure();
  const std::vector<std::string> order = noteTexts(run);
  ASSERT_GE(order.size(), 8U);
  EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 4),
            (std::vector<std::string>{"0", "0", "0", "0"}));
  // Never nested: every handler ends before the next begins.
  for (size_t i = 4; i + 1 < order.size(); i += 2) {
    const std::string who = order[i].substr(0, order[i].find(' '));
    EXPECT_EQ(order[i], who + " in") << i;
    EXPECT_EQ(order[i + 1], who + " out") << i;
  }
  // TIMER1 (1 ms) comes first and runs once; from then on TIMER0's request
  // is renewed while it runs, and on a tie the lower interrupt number wins:
  // one request per source, however many time-outs passed.
  const auto first = run.interrupts(INT_TIMER0A);
  const auto second = run.interrupts(INT_TIMER1A);
  EXPECT_EQ(second.size(), 1U);
  EXPECT_EQ(first.size(), 5U);
  // Back to back: the clear, two clock reads, the 50 ms wait, exit and entry.
  EXPECT_EQ(first[1] - first[0], (3 * (50000000 / 3000 * 50) + 4 + 8 + 10 + 12) * nanoseconds(20));
}

void preempter() {
  TimerIntClear(TIMER1_BASE, TIMER_TIMA_TIMEOUT);
  note("preempted");
}

TEST(Interrupts, AHigherLevelPreemptsALowerOneUnlessTheGroupingJoinsThem) {
  // AIRCR's PRIGROUP 6 leaves only bit 7 as the group: 0x20 and 0x40 are
  // then one group, and only the group preempts.
  for (const uint32_t grouping : {0x05FA0000U, 0x05FA0600U}) {
    Bench bench;
    const auto run = bench.run(
        [grouping] {
          hw::write32(0xE000ED0C, grouping);
          clockAt50MHz();
          startTimer(TIMER0_BASE, SYSCTL_PERIPH_TIMER0, INT_TIMER0A, 500000, slowFirst, 0x40);
          startTimer(TIMER1_BASE, SYSCTL_PERIPH_TIMER1, INT_TIMER1A, 1000000, preempter, 0x20);
          IntMasterEnable();
        },
        milliseconds(70));
    ASSERT_TRUE(run.ok()) << run.failure();
    const auto order = noteTexts(run);
    ASSERT_GE(order.size(), 3U);
    EXPECT_EQ(order[0], "first in");
    EXPECT_EQ(order[1], grouping == 0x05FA0000U ? "preempted" : "first out") << std::hex << grouping;
  }
}

void masked() { note("handler"); TimerIntClear(TIMER0_BASE, TIMER_TIMA_TIMEOUT); }

TEST(Interrupts, MasterDisableHoldsAPendingRequestUntilEnable) {
  Bench bench;
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        IntMasterDisable();
        startTimer(TIMER0_BASE, SYSCTL_PERIPH_TIMER0, INT_TIMER0A, 50000, masked, 0);
        runUntil(milliseconds(5));
        note("enabling");
        IntMasterEnable();
        TimerDisable(TIMER0_BASE, TIMER_A);
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"enabling", "handler"}));
}

void buttonHandler() {
  note("status " + std::to_string(GPIOIntStatus(GPIO_PORTF_BASE, false)));
  GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
}

void configureButton() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
  GPIOPinTypeGPIOInput(GPIO_PORTF_BASE, GPIO_PIN_4);
  GPIOPadConfigSet(GPIO_PORTF_BASE, GPIO_PIN_4, GPIO_STRENGTH_12MA, GPIO_PIN_TYPE_STD_WPU);
  GPIOIntDisable(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  GPIOIntClear(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  GPIOIntRegister(GPIO_PORTF_BASE, buttonHandler);
  GPIOIntTypeSet(GPIO_PORTF_BASE, GPIO_PIN_4, GPIO_FALLING_EDGE);
  GPIOIntEnable(GPIO_PORTF_BASE, GPIO_INT_PIN_4);
  IntMasterEnable();
}

TEST(Gpio, AFallingEdgeOnThePulledUpButtonRaisesPortF) {
  Bench bench;
  bench.press(PF4, milliseconds(3), milliseconds(2));
  const auto run = bench.run(
      [] {
        configureButton();
        note("pin " + std::to_string(GPIOPinRead(GPIO_PORTF_BASE, GPIO_PIN_4)));
        runUntil(milliseconds(4));
        note("pin " + std::to_string(GPIOPinRead(GPIO_PORTF_BASE, GPIO_PIN_4)));
      },
      milliseconds(10));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Released reads 1 through the pull-up; the press interrupts once (the
  // release is a rising edge).
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"pin 16", "status 16", "pin 0"}));
  const auto entries = run.interrupts(INT_GPIOF);
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(entries[0], milliseconds(3));
}

TEST(Gpio, OutputsRecordOnlyTheMaskedPins) {
  Bench bench;
  const auto run = bench.run(
      [] {
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
        GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3);
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0xFF);
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_1 | GPIO_PIN_3, GPIO_PIN_3);
        GPIOPinWrite(GPIO_PORTF_BASE, GPIO_PIN_2, 0);
      },
      milliseconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  // Each pin shows its level when it becomes an output, then its changes.
  ASSERT_EQ(run.pinChanges(PF2).size(), 3U);
  EXPECT_EQ(run.pinChanges(PF2)[1].value, 1);
  EXPECT_EQ(run.pinChanges(PF2)[2].value, 0);
  ASSERT_EQ(run.pinChanges(PF3).size(), 2U);
  EXPECT_EQ(run.pinChanges(PF3)[1].value, 1);
  EXPECT_EQ(run.pinChanges(PF1).size(), 1U);
  EXPECT_EQ(run.pinLevel(PF1, milliseconds(1)), 0);
}

TEST(Gpio, LockedPinsNeedTheCommitUnlock) {
  Bench bench;
  const auto run = bench.run(
      [] {
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOD);
        GPIOPinTypeUART(GPIO_PORTD_BASE, GPIO_PIN_6 | GPIO_PIN_7);
        note(std::to_string(hw::read32(GPIO_PORTD_BASE + 0x420)));
        GPIOUnlockPin(GPIO_PORTD_BASE, GPIO_PIN_7);
        GPIOPinTypeUART(GPIO_PORTD_BASE, GPIO_PIN_6 | GPIO_PIN_7);
        note(std::to_string(hw::read32(GPIO_PORTD_BASE + 0x420)));
      },
      milliseconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"64", "192"}));
}

TEST(Registration, MovesTheTableToAlignedRamAndTheHandlerRuns) {
  Bench bench;
  bench.press(PF4, milliseconds(1), milliseconds(1));
  const auto run = bench.run(
      [] {
        note("vtor " + std::to_string(hw::read32(0xE000ED08)));
        configureButton();
        const uint32_t vtor = hw::read32(0xE000ED08);
        note(std::string("vtor ") + ((vtor & 0xFFFF8000U) == 0x20000000U && (vtor & 0x3FFU) == 0 ? "ram" : "?"));
        note(hw::vectorTable()[INT_GPIOF] == &buttonHandler ? "entry set" : "entry missing");
      },
      milliseconds(3));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"vtor 0", "vtor ram", "entry set", "status 16"}));
}

TEST(Adc, AConversionReturnsTheSourceAfterAboutAMicrosecond) {
  Bench bench;
  bench.analogue(0, [](Time t) { return static_cast<uint16_t>(t < milliseconds(2) ? 1234 : 2301); });
  const auto run = bench.run(
      [] {
        clockAt50MHz();
        SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOE);
        GPIOPinTypeADC(GPIO_PORTE_BASE, GPIO_PIN_3);
        ADCSequenceConfigure(ADC0_BASE, 3, ADC_TRIGGER_PROCESSOR, 0);
        ADCSequenceStepConfigure(ADC0_BASE, 3, 0, ADC_CTL_CH0 | ADC_CTL_IE | ADC_CTL_END);
        ADCSequenceEnable(ADC0_BASE, 3);
        ADCIntClear(ADC0_BASE, 3);
        for (Time at : {milliseconds(1), milliseconds(3)}) {
          runUntil(at);
          ADCProcessorTrigger(ADC0_BASE, 3);
          const Time started = now();
          while (ADCIntStatus(ADC0_BASE, 3, false) == 0) {
          }
          const Time waited = now() - started;
          ADCIntClear(ADC0_BASE, 3);
          uint32_t values[8] = {};
          const int32_t count = ADCSequenceDataGet(ADC0_BASE, 3, values);
          note(std::to_string(count) + " " + std::to_string(values[0]) + " " +
               (waited >= microseconds(1) && waited < microseconds(2) ? "1us" : std::to_string(waited)));
        }
      },
      milliseconds(5));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"1 1234 1us", "1 2301 1us"}));
}

TEST(Rom, TheApiTableReachesTheDriverOperationsByGroupAndIndex) {
  Bench bench;
  const auto run = bench.run(
      [] {
        ROM_FPUEnable();
        ROM_FPULazyStackingEnable();
        ROM_SysCtlClockSet(0x07803D40);
        note(std::to_string(ROM_SysCtlClockGet()));
        note(std::to_string(hw::read32(0xE000ED88)));
        ROM_SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
        ROM_SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
        GPIOPinConfigure(GPIO_PA0_U0RX);
        GPIOPinConfigure(GPIO_PA1_U0TX);
        ROM_GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
        ROM_UARTConfigSetExpClk(UART0_BASE, ROM_SysCtlClockGet(), 115200, 0x60);
        ROM_UARTCharPutNonBlocking(UART0_BASE, 'k');
      },
      milliseconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  EXPECT_EQ(noteTexts(run), (std::vector<std::string>{"16000000", std::to_string(0xF << 20)}));
  EXPECT_EQ(run.sent(0), "k");
}

int counter = 0;

TEST(Runs, StartFromResetAndRepeatExactly) {
  Bench bench;
  bench.uart(0).send(microseconds(300), "hello");
  const auto entry = [] {
    note(std::to_string(++counter));
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
    SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
    GPIOPinConfigure(GPIO_PA0_U0RX);
    GPIOPinConfigure(GPIO_PA1_U0TX);
    GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
    UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, 0x60);
    for (char c : std::string("abc")) {
      UARTCharPut(UART0_BASE, static_cast<unsigned char>(c));
    }
  };
  const auto first = bench.run(entry, milliseconds(2));
  const auto second = bench.run(entry, milliseconds(2));
  ASSERT_TRUE(first.ok()) << first.failure();
  EXPECT_EQ(first.notes().at(0).second, "1");
  EXPECT_EQ(first.text(), second.text());
  EXPECT_EQ(first.received(0), "hello");
  EXPECT_EQ(counter, 0);  // nothing of a run comes back into the test's process
}

// A long run is handed over while it goes, a block at a time: the sink
// sees every record in order with the texts it names, the outcome keeps
// what the sink keeps, and a fault it drops still ends the run as one.
TEST(Runs, AStreamedRunHandsEveryRecordOverAndKeepsWhatTheSinkKeeps) {
  const auto entry = [] {
    for (int index = 0; index < 150000; ++index) {
      note(std::to_string(index));
    }
    (void)hw::read32(0x40080000);
  };
  const auto whole = Bench().run(entry, milliseconds(1));
  Bench streamed;
  std::string seen;
  size_t numbered = 0;
  streamed.stream([&](const Record& record, const Timeline& sofar) {
    sofar.appendLine(seen, record);
    seen += '\n';
    if (record.kind == RecordKind::Note) {
      numbered += sofar.texts.at(record.detail) == std::to_string(numbered);
    }
    return record.kind == RecordKind::Note && record.detail % 1000 == 0;
  });
  const auto kept = streamed.run(entry, milliseconds(1));
  EXPECT_EQ(seen, whole.text());
  EXPECT_EQ(numbered, 150000U);
  EXPECT_EQ(kept.timeline().records.size(), 150U);
  EXPECT_EQ(kept.notes().back().second, "149000");
  EXPECT_NE(kept.failure().find("nothing is mapped there"), std::string::npos) << kept.failure();
  EXPECT_EQ(kept.failure(), whole.failure());
}

}  // namespace

namespace {

TEST(Polling, ALoopThatWaitsToATimeBetweenReadsReachesEachWait) {
  // Polling a register between waits of 1 ms: the board must not take the
  // loop for an idle poll and jump past the waits to the end of the run.
  const auto run = sim::Bench{}.run(
      [] {
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOF);
        for (int pass = 1; pass <= 20; ++pass) {
          (void)GPIOPinRead(GPIO_PORTF_BASE, GPIO_PIN_4);
          sim::runUntil(sim::now() + sim::milliseconds(1));
          if (pass % 10 == 0) {
            sim::note(std::to_string(pass));
          }
        }
      },
      sim::seconds(1));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 2U);
  EXPECT_NEAR(static_cast<double>(run.notes()[1].first), 20e9, 0.1e9);
}

}  // namespace
