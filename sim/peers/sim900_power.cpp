// The SIM900 model's power: the power key, boot (autobaud or a fixed rate),
// the supply's faults, and the dispatch of the events the run brings.
#include "sim/peers/sim900_state.h"

namespace sim::peers {

namespace {

std::string framed(const std::string& text) { return "\r\n" + text + "\r\n"; }

// Sent at 115200 baud right after power-on, for the maker's flash tool.
constexpr char kSyncBytes[] = {'\x00', '\x49', '\x49', '\x49', '\x49', '\xFF', '\xFF', '\xFF', '\xFF'};
constexpr uint32_t kSyncRate = 115200;
// From the under-voltage warning to the power-down.
constexpr Time kUnderVoltageWarning = seconds(2);
// The power key turns the module on or off when held low this long.
constexpr Time kPowerKeyHold = seconds(1);

}  // namespace

void Sim900::State::resetVolatile() {
  echo = echoAtPowerUp;
  textMode = false;
  newMessageMode = 1;
  callerId = false;
  connectedLine = false;
  errorMode = 0;
  registrationMode = 0;
  bearer = {};
}

void Sim900::State::start(PeerLink& link) {
  random.seed(settings.seed);
  resetVolatile();
  for (size_t index = 0; index < phone.calls.size(); ++index) {
    link.wakeAfter(phone.calls[index].at, tag(kIncomingCall, index));
  }
  if (takesRequests) {
    link.wakeAfter(0, tag(kRequests, 0));
  }
  for (size_t index = 0; index < phone.texts.size(); ++index) {
    link.wakeAfter(phone.texts[index].at + draw(settings.timing.smsDelivery), tag(kTextArrives, index));
  }
  for (size_t index = 0; index < faults.size(); ++index) {
    link.wakeAfter(faults[index].from, tag(kFaultStarts, index));
    if (faults[index].to != kNever) {
      link.wakeAfter(faults[index].to, tag(kFaultEnds, index));
    }
  }
  if (settings.boot == BootMode::Ready) {
    return;  // awake, registered and attached from the start
  }
  powered = false;
  booted = false;
  rateLocked = false;
  servicesReady = false;
  registeredAt = kNever;
  if (settings.selfPowered) {
    link.wakeAfter(draw(settings.timing.powerUp), tag(kPowerUp, 0));
  }
}

void Sim900::State::powerOn(PeerLink& link) {
  if (powered || supplyLow) {
    return;
  }
  powered = true;
  ++powerGeneration;
  resetVolatile();
  link.record("power-on");
  if (settings.boot == BootMode::Ready) {
    // The ideal modem is back at once, registered, and says so.
    booted = true;
    rateLocked = true;
    servicesReady = true;
    registeredAt = 0;
    attachedAt = 0;
    output(link, framed("Call Ready"), seconds(2));
    return;
  }
  booted = false;
  rateLocked = false;
  servicesReady = false;
  registeredAt = kNever;
  link.sendAtRate(0, std::string_view(kSyncBytes, sizeof kSyncBytes), kSyncRate);
  link.wakeAfter(draw(settings.timing.boot), tag(kBooted, 0));
}

void Sim900::State::bootDone(PeerLink& link) {
  booted = true;
  previous = 0;
  if (settings.boot == BootMode::Fixed) {
    rateLocked = true;
    output(link, framed("RDY") + framed("+CFUN: 1") + framed("+CPIN: READY"));
  } else {
    loseNextAt = static_cast<double>(random() % 1000000) < settings.firstAtLost * 1e6;
  }
  networkBack(link);
  link.wakeAfter(draw(settings.timing.services), tag(kServicesReady, 0));
}

void Sim900::State::powerOff(PeerLink& link, const std::string& lastLine) {
  if (!powered) {
    return;
  }
  if (!lastLine.empty()) {
    output(link, framed(lastLine));
  }
  link.record("power-off");
  if (call != Call::Idle) {
    endCall(link, "power lost", "");
  }
  powered = false;
  ++powerGeneration;
  booted = false;
  servicesReady = false;
  registeredAt = kNever;
  delayed.clear();
  mode = Mode::Command;
  line.clear();
  busy = false;
  waitingLines.clear();
  dialPending = false;
  answerPending = false;
  skipLine = false;
  bearerOpen = false;
  httpStarted = false;
  actionPending = false;
  ++httpDataGeneration;
}

void Sim900::State::pinChanged(PeerLink& link, Pin pin, bool high) {
  if (!settings.powerKey || settings.powerKey->unit() != pin.unit()) {
    return;
  }
  ++keyGeneration;
  if (!high) {
    link.wakeAfter(kPowerKeyHold, tag(kKeyHeld, keyGeneration));
  }
}

void Sim900::State::powerEvent(PeerLink& link, Event event, uint64_t value) {
  switch (event) {
    case kBooted:
      bootDone(link);
      return;
    case kServicesReady:
      servicesReady = true;
      output(link, framed("Call Ready"));
      return;
    case kRegistered:
      if (registered(link.now())) {
        link.record("registered");
        if (registrationMode == 1) {
          output(link, framed("+CREG: 1"));
        }
      }
      return;
    case kUnderVoltageDown:
      powerOff(link, "UNDER-VOLTAGE POWER DOWN");
      return;
    case kKeyHeld:
      if (value == keyGeneration) {
        if (powered) {
          powerOff(link, "NORMAL POWER DOWN");
        } else {
          powerOn(link);
        }
      }
      return;
    case kFaultStarts:
    case kFaultEnds: {
      const FaultSpan& span = faults[value];
      const bool starts = event == kFaultStarts;
      switch (span.fault) {
        case Fault::PowerLoss:
        case Fault::UnderVoltage:
          if (starts) {
            supplyLow = true;
            if (span.fault == Fault::PowerLoss) {
              powerOff(link, "");
            } else if (powered) {
              output(link, framed("UNDER-VOLTAGE WARNNING"));
              link.wakeAfter(kUnderVoltageWarning, tag(kUnderVoltageDown, 0));
            }
          } else {
            supplyLow = false;
            // The ideal modem always came back; a real one only on a shield
            // that powers it up.
            if (!settings.strict) {
              powerOn(link);
            } else if (settings.selfPowered) {
              link.wakeAfter(draw(settings.timing.powerUp), tag(kPowerUp, 0));
            }
          }
          return;
        case Fault::BrownOut:
          if (starts && powered) {
            powerOff(link, "");
            powerOn(link);
          }
          return;
        case Fault::BearerDropped:
          if (starts && bearerOpen && powered) {
            bearerOpen = false;
            link.record("bearer-dropped");
            output(link, framed("+SAPBR 1: DEACT"));
          }
          return;
        case Fault::NoNetwork:
          if (settings.strict) {
            starts ? networkLost(link) : networkBack(link);
          }
          return;
        default:
          return;
      }
    }
    default:
      return;
  }
}

void Sim900::State::wake(PeerLink& link, uint64_t wakeTag) {
  const auto event = static_cast<Event>(wakeTag >> 56);
  const uint64_t generation = (wakeTag >> kValueBits) & 0xFFFF;
  const uint64_t value = wakeTag & ((uint64_t{1} << kValueBits) - 1);
  // The world goes on whatever the module's power: faults, the key, calls
  // and texts to it.
  switch (event) {
    case kFaultStarts:
    case kFaultEnds:
    case kKeyHeld:
      powerEvent(link, event, value);
      return;
    case kPowerUp:
      powerOn(link);
      return;
    case kIncomingCall:
    case kTextArrives:
      callEvent(link, event, value);
      return;
    case kRequests:
      takeRequests(link);
      return;
    default:
      break;
  }
  if (!powered || generation != (powerGeneration & 0xFFFF)) {
    return;
  }
  switch (event) {
    case kOutput:
    case kFinished: {
      const auto found = delayed.find(value);
      if (found == delayed.end()) {
        return;
      }
      const std::string text = found->second;
      delayed.erase(found);
      event == kFinished ? complete(link, text) : output(link, text);
      return;
    }
    case kBooted:
    case kServicesReady:
    case kRegistered:
    case kUnderVoltageDown:
      powerEvent(link, event, value);
      return;
    default:
      callEvent(link, event, value);
      return;
  }
}

}  // namespace sim::peers
