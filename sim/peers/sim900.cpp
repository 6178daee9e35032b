// The SIM900 model: the command line, its dispatch, and the events the
// network brings (calls, texts, the bearer, HTTP answers).
#include "sim/peers/sim900.h"

#include <algorithm>
#include <cstdio>

#include "sim/peers/sim900_state.h"

namespace sim::peers {

Sim900Settings Sim900Settings::lenient() { return {}; }

Sim900Settings Sim900Settings::field(uint64_t seed) {
  // The ranges real modules and networks show: see the field notes on
  // boot, registration, the bearer, HTTP actions, texts and calls.
  Sim900Settings field;
  Sim900Timing& timing = field.timing;
  timing.command = {milliseconds(10), milliseconds(50)};
  timing.callSetUp = {seconds(3), seconds(8)};
  timing.ringInterval = seconds(5);
  timing.smsNetwork = {seconds(2), seconds(10)};
  timing.bearerOpen = {seconds(1), seconds(3)};
  timing.bearerClose = {milliseconds(500), milliseconds(1500)};
  timing.httpAction = {seconds(1), seconds(10)};
  timing.smsDelivery = {seconds(2), seconds(10)};
  timing.noAnswer = {seconds(30), seconds(60)};
  timing.powerUp = {milliseconds(500), milliseconds(1500)};
  timing.boot = {seconds(2), seconds(5)};
  timing.services = {seconds(1), seconds(5)};
  timing.registration = {seconds(5), seconds(60)};
  timing.attach = {seconds(1), seconds(5)};
  timing.slowNetworkMost = seconds(60);
  field.busy = BusyPolicy::Drop;
  field.boot = BootMode::Autobaud;
  field.firstAtLost = 0.5;
  field.promptLineFeed = PromptLineFeed::Body;
  field.strict = true;
  field.seed = seed;
  return field;
}

Sim900::Sim900() : Sim900(Sim900Settings::field()) {}

Sim900::Sim900(const Sim900Settings& settings) : state_(std::make_shared<State>()) { state_->settings = settings; }

Sim900& Sim900::settings(const Sim900Settings& settings) {
  state_->settings = settings;
  return *this;
}

const Sim900Settings& Sim900::settings() const { return state_->settings; }

Sim900& Sim900::timing(const Sim900Timing& timing) {
  state_->settings.timing = timing;
  return *this;
}

Sim900& Sim900::phone(const CaretakerPhone& phone) {
  state_->phone = phone;
  return *this;
}

Sim900& Sim900::http(HttpHandler handler) {
  state_->handler = std::move(handler);
  return *this;
}

Sim900& Sim900::httpServer(std::string host, int port, bool benchClock) {
  state_->serverHost = std::move(host);
  state_->serverPort = port;
  state_->serverBenchClock = benchClock;
  return *this;
}

Sim900& Sim900::fault(Fault fault, Time from, Time to) {
  state_->faults.push_back({fault, from, to});
  return *this;
}

Sim900& Sim900::echo(bool on) {
  state_->echoAtPowerUp = on;
  return *this;
}

std::shared_ptr<Sim900> Sim900::attach(Bench& bench, unsigned uart) const {
  // A copy per bench: runs of other benches keep their own settings.
  auto model = std::make_shared<Sim900>(*this);
  model->state_ = std::make_shared<State>(*state_);
  UartPeer& line = bench.uart(uart).baud(9600).device(model);
  if (state_->settings.powerKey) {
    line.watch(*state_->settings.powerKey);
  }
  return model;
}

Sim900& Sim900::takesRequests() {
  state_->takesRequests = true;
  return *this;
}

void Sim900::callFromCaretaker() const { ++state_->requestedCalls; }

void Sim900::textFromCaretaker(std::string body) const { state_->requestedTexts.push_back(std::move(body)); }

std::string Sim900::callState() const {
  using Call = State::Call;
  if (!state_->powered) {
    return "off";
  }
  switch (state_->call) {
    case Call::Idle: return "idle";
    case Call::Dialling: return "dialling";
    case Call::Alerting: return "ringing out";
    case Call::Incoming: return "ringing in";
    case Call::Active: return "talking";
  }
  return "idle";
}

void Sim900::start(PeerLink& link) { state_->start(link); }

void Sim900::heard(PeerLink& link, uint8_t byte) { state_->heard(link, byte); }

void Sim900::wake(PeerLink& link, uint64_t tag) { state_->wake(link, tag); }

void Sim900::pinChanged(PeerLink& link, Pin pin, bool high) { state_->pinChanged(link, pin, high); }

}  // namespace sim::peers
