// The SIM900 model: the command line, its dispatch, and the events the
// network brings (calls, texts, the bearer, HTTP answers).
#include "sim/peers/sim900.h"

#include <algorithm>
#include <cstdio>

#include "sim/peers/sim900_state.h"

namespace sim::peers {

Sim900::Sim900() : state_(std::make_shared<State>()) {}

Sim900& Sim900::timing(const Sim900Timing& timing) {
  state_->timing = timing;
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

Sim900& Sim900::httpServer(std::string host, int port) {
  state_->serverHost = std::move(host);
  state_->serverPort = port;
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

void Sim900::attach(Bench& bench, unsigned uart) const {
  // A copy per bench: runs of other benches keep their own settings.
  auto model = std::make_shared<Sim900>(*this);
  model->state_ = std::make_shared<State>(*state_);
  bench.uart(uart).baud(9600).device(model);
}

void Sim900::start(PeerLink& link) { state_->start(link); }

void Sim900::heard(PeerLink& link, uint8_t byte) { state_->heard(link, byte); }

void Sim900::wake(PeerLink& link, uint64_t tag) { state_->wake(link, tag); }

}  // namespace sim::peers
