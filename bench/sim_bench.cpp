// How many virtual seconds the simulated board runs per wall second. Each
// iteration is one whole run in its own process, so the time is real time.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "platform/driverlib.h"
#include "sim/peers/gps_receiver.h"
#include "sim/peers/pulse_sensor.h"
#include "sim/peers/sim900.h"
#include "sim/sim.h"

namespace {

using namespace sim;

constexpr uint32_t kFrame8N1 = UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE;

void bringUp() {
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  UARTConfigSetExpClk(UART0_BASE, SysCtlClockGet(), 115200, kFrame8N1);
}

void print(uint32_t base, const char* text) {
  while (*text != 0) {
    UARTCharPut(base, static_cast<unsigned char>(*text++));
  }
}

// False, with the error given, when the run failed.
bool reportRate(benchmark::State& state, const Outcome& run) {
  if (!run.ok()) {
    state.SkipWithError(run.failure().c_str());
    return false;
  }
  state.counters["virtual_s_per_wall_s"] =
      benchmark::Counter(static_cast<double>(run.end()) / 1e12, benchmark::Counter::kIsIterationInvariantRate);
  return true;
}

// 10 000 bytes to the modem line at 9600 baud, each through the polling send
// loop, with a console line after every 100.
void PollingSendAt9600(benchmark::State& state) {
  Bench bench;
  for (auto _ : state) {
    const auto run = bench.run(
        [] {
          bringUp();
          SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
          SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOC);
          GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
          GPIOPinConfigure(GPIO_PC4_U4RX);
          GPIOPinConfigure(GPIO_PC5_U4TX);
          UARTConfigSetExpClk(UART4_BASE, SysCtlClockGet(), 9600, kFrame8N1);
          for (int i = 0; i < 10000; ++i) {
            UARTCharPut(UART4_BASE, static_cast<unsigned char>('0' + i % 10));
            if (i % 100 == 99) {
              print(UART0_BASE, "sent 100 more\n");
            }
          }
          // Let the last bytes drain, then stop.
          while (UARTBusy(UART4_BASE)) {
          }
          runUntil(now());
        },
        seconds(11));
    if (run.sent(4).size() != 10000) {
      state.SkipWithError("not all bytes went out");
      break;
    }
    if (!reportRate(state, run)) {
      break;
    }
  }
}
BENCHMARK(PollingSendAt9600)->Unit(benchmark::kMillisecond)->UseRealTime();

uint32_t samples[8];

void sampleAndPrint() {
  TimerIntClear(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
  ADCProcessorTrigger(ADC0_BASE, 3);
  while (ADCIntStatus(ADC0_BASE, 3, false) == 0) {
  }
  ADCIntClear(ADC0_BASE, 3);
  ADCSequenceDataGet(ADC0_BASE, 3, samples);
  char line[16];
  std::snprintf(line, sizeof line, "%lu\n", static_cast<unsigned long>(samples[0]));
  print(UART0_BASE, line);
}

// An hour of a 100 ms timer whose handler converts AIN0 and prints the
// value on the console; the foreground idles.
void HourOfSampling(benchmark::State& state) {
  Bench bench;
  bench.analogue(0, [](Time t) { return static_cast<uint16_t>((t / milliseconds(100)) % 4096); });
  for (auto _ : state) {
    const auto run = bench.run(
        [] {
          bringUp();
          SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
          SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOE);
          GPIOPinTypeADC(GPIO_PORTE_BASE, GPIO_PIN_3);
          ADCSequenceConfigure(ADC0_BASE, 3, ADC_TRIGGER_PROCESSOR, 0);
          ADCSequenceStepConfigure(ADC0_BASE, 3, 0, ADC_CTL_CH0 | ADC_CTL_IE | ADC_CTL_END);
          ADCSequenceEnable(ADC0_BASE, 3);
          SysCtlPeripheralEnable(SYSCTL_PERIPH_TIMER0);
          TimerConfigure(TIMER0_BASE, TIMER_CFG_PERIODIC);
          TimerLoadSet(TIMER0_BASE, TIMER_A, SysCtlClockGet() / 10);
          TimerIntRegister(TIMER0_BASE, TIMER_A, sampleAndPrint);
          TimerIntEnable(TIMER0_BASE, TIMER_TIMA_TIMEOUT);
          TimerEnable(TIMER0_BASE, TIMER_A);
          IntMasterEnable();
        },
        seconds(3600));
    if (run.interrupts(INT_TIMER0A).size() != 35999) {
      state.SkipWithError("wrong number of ticks");
      break;
    }
    if (!reportRate(state, run)) {
      break;
    }
  }
}
BENCHMARK(HourOfSampling)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

// An hour of the tracker firmware against the SIM900 model and the
// caretaker's phone: the radius, the reports every 40 s, the HTTP report
// every 5 minutes, calls both ways and a text; with the GPS receiver's
// 140 bytes a second on UART2 too, when walking.
Bench trackerHourBench(bool walking) {
  Bench bench;
  peers::CaretakerPhone phone;
  // The caretaker ends the press's call; else it lasts the rest of the hour.
  phone.hangUpAfter = seconds(60);
  phone.calls.push_back({seconds(600), seconds(20), seconds(30)});
  phone.texts.push_back({seconds(1200), "@400$"});
  peers::Sim900 modem;
  modem.phone(phone).http([](const peers::HttpRequest& request) {
    return peers::HttpResponse{200, request.method == "GET" ? "@250$" : "OK"};
  });
  modem.attach(bench);
  if (walking) {
    const peers::Position home{41.015137, 28.979530};
    peers::GpsReceiver gps;
    gps.walk({home, {home.latitude + 0.005, home.longitude}, home}, 1.4).noise(3, 1);
    gps.attach(bench, seconds(3600));
  }
  peers::PulseSensor(72).attach(bench);
  bench.press(PF4, seconds(1800), milliseconds(200));
  return bench;
}

void TrackerHour(benchmark::State& state, bool walking) {
  const Bench bench = trackerHourBench(walking);
  for (auto _ : state) {
    const auto run = bench.run(
        [] {
          entry::bringUp();
          for (;;) {
            entry::runDuties();
            hw::waitForInterrupt();
          }
        },
        seconds(3600));
    if (peers::ModemLog::from(run).sent.size() < 80) {
      state.SkipWithError("the reports did not go out");
      break;
    }
    if (!reportRate(state, run)) {
      break;
    }
  }
}

void TrackerHourWithModemAndPhone(benchmark::State& state) { TrackerHour(state, false); }
void TrackerHourWithModemPhoneAndGps(benchmark::State& state) { TrackerHour(state, true); }
BENCHMARK(TrackerHourWithModemAndPhone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TrackerHourWithModemPhoneAndGps)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

// The tracker's ARM image over the same hour on the emulated board, beside
// the host build's hour above; and the emulator's instructions a second.
void ArmTrackerHourWithModemPhoneAndGps(benchmark::State& state) {
  const Bench bench = trackerHourBench(true);
  uint64_t halfwords = 0;
  for (auto _ : state) {
    const auto run = bench.runImage(TARGET_BUILD_DIR "/apps/tracker/tracker_firmware.elf", seconds(3600));
    if (peers::ModemLog::from(run).sent.size() < 80) {
      state.SkipWithError(run.ok() ? "the reports did not go out" : run.failure().c_str());
      break;
    }
    halfwords += run.executedHalfwords();
    if (!reportRate(state, run)) {
      break;
    }
  }
  state.counters["halfwords_per_s"] = benchmark::Counter(static_cast<double>(halfwords), benchmark::Counter::kIsRate);
}
BENCHMARK(ArmTrackerHourWithModemPhoneAndGps)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
