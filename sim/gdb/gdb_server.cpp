#include "sim/gdb/gdb_server.h"

#include <cstdio>
#include <cstdlib>

namespace gdb {

namespace {

// A Cortex-M4F as GDB knows it: the m-profile core registers, the FP
// registers (s0-s31 are GDB's views of d0-d15) and the system registers.
std::string targetDescription() {
  std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n<target version=\"1.0\">\n"
      "<architecture>arm</architecture>\n<feature name=\"org.gnu.gdb.arm.m-profile\">\n";
  for (int index = 0; index < 13; ++index) {
    xml += "<reg name=\"r" + std::to_string(index) + "\" bitsize=\"32\" regnum=\"" + std::to_string(index) + "\"/>\n";
  }
  xml +=
      "<reg name=\"sp\" bitsize=\"32\" type=\"data_ptr\"/>\n<reg name=\"lr\" bitsize=\"32\"/>\n"
      "<reg name=\"pc\" bitsize=\"32\" type=\"code_ptr\"/>\n<reg name=\"xpsr\" bitsize=\"32\"/>\n</feature>\n"
      "<feature name=\"org.gnu.gdb.arm.vfp\">\n";
  for (int index = 0; index < 16; ++index) {
    xml += "<reg name=\"d" + std::to_string(index) + "\" bitsize=\"64\" type=\"ieee_double\"/>\n";
  }
  xml +=
      "<reg name=\"fpscr\" bitsize=\"32\" type=\"int\" group=\"float\"/>\n</feature>\n"
      "<feature name=\"org.gnu.gdb.arm.m-system\">\n<reg name=\"msp\" bitsize=\"32\" type=\"data_ptr\"/>\n"
      "<reg name=\"psp\" bitsize=\"32\" type=\"data_ptr\"/>\n<reg name=\"primask\" bitsize=\"32\" group=\"system\"/>\n"
      "<reg name=\"basepri\" bitsize=\"32\" group=\"system\"/>\n<reg name=\"faultmask\" bitsize=\"32\" group=\"system\"/>\n"
      "<reg name=\"control\" bitsize=\"32\" group=\"system\"/>\n</feature>\n</target>\n";
  return xml;
}

// A payload that carries binary data escapes the protocol's own bytes.
std::string escaped(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    if (byte == '#' || byte == '$' || byte == '}' || byte == '*') {
      text.push_back('}');
      text.push_back(static_cast<char>(byte ^ 0x20));
    } else {
      text.push_back(byte);
    }
  }
  return text;
}

// "annex:offset,length" of a qXfer read: the part of the document asked.
std::string documentPart(const std::string& document, std::string_view range) {
  const size_t comma = range.find(',');
  if (comma == std::string_view::npos) {
    return "E00";
  }
  const size_t offset = std::strtoul(std::string(range.substr(0, comma)).c_str(), nullptr, 16);
  const size_t length = std::strtoul(std::string(range.substr(comma + 1)).c_str(), nullptr, 16);
  if (offset >= document.size()) {
    return "l";
  }
  const std::string part = document.substr(offset, length);
  return (offset + part.size() < document.size() ? "m" : "l") + escaped(part);
}

// "addr,length" in hex; false when malformed.
bool addressAndLength(std::string_view text, uint32_t& address, uint32_t& length) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos || comma == 0) {
    return false;
  }
  char* end = nullptr;
  const std::string first(text.substr(0, comma)), second(text.substr(comma + 1));
  address = static_cast<uint32_t>(std::strtoul(first.c_str(), &end, 16));
  if (*end != '\0') {
    return false;
  }
  length = static_cast<uint32_t>(std::strtoul(second.c_str(), &end, 16));
  return *end == '\0' && !second.empty();
}

constexpr std::string_view kSupported =
    "PacketSize=4000;qXfer:features:read+;qXfer:memory-map:read+;swbreak+;hwbreak+;QStartNoAckMode+;"
    "vContSupported+";

}  // namespace

Action GdbServer::halt(const Stop& stop, bool wait) {
  last_ = stop;
  interruptPending_ = false;
  if (!link_.accept(wait)) {
    return Action{};
  }
  if (replyOwed_) {
    replyOwed_ = false;
    link_.send(stopReply());
  }
  for (;;) {
    const std::optional<std::string> packet = link_.receive();
    if (!packet) {
      // The debugger vanished: the run goes on without it.
      target_.detached();
      return Action{Resume::Detach};
    }
    std::optional<Action> action;
    const std::optional<std::string> reply = serve(*packet, action);
    if (reply) {
      link_.send(*reply);
    }
    if (action && interruptPending_ && (action->how == Resume::Continue || action->how == Resume::Range)) {
      // A Ctrl-C that crossed the resume on the wire: it stops the target
      // at once.
      interruptPending_ = false;
      last_ = Stop{Stop::Kind::Interrupted};
      link_.send(stopReply());
      continue;
    }
    if (action) {
      if (action->how == Resume::Detach || action->how == Resume::Kill) {
        target_.detached();
        link_.disconnect();
      } else {
        replyOwed_ = true;
      }
      return *action;
    }
  }
}

void GdbServer::print(const std::string& text) {
  if (link_.connected() && !text.empty()) {
    link_.send("O" + toHex(text));
  }
}

void GdbServer::ended(bool fault) {
  if (link_.connected()) {
    link_.send(fault ? "X0b" : "W00");
    link_.disconnect();
  }
}

std::string GdbServer::stopReply() const {
  char text[48];
  switch (last_.kind) {
    case Stop::Kind::Breakpoint: return "T05swbreak:;";
    case Stop::Kind::HardwareBreakpoint: return "T05hwbreak:;";
    case Stop::Kind::Watchpoint:
      std::snprintf(text, sizeof text, "T05%s:%08x;",
                    last_.watch == Watch::Write ? "watch" : last_.watch == Watch::Read ? "rwatch" : "awatch",
                    last_.address);
      return text;
    case Stop::Kind::Interrupted: return "T02";
    case Stop::Kind::Fault: return "T0b";
    default: return "T05";
  }
}

std::optional<std::string> GdbServer::serve(const std::string& packet, std::optional<Action>& action) {
  const std::string_view view(packet);
  const auto starts = [&view](std::string_view prefix) { return view.substr(0, prefix.size()) == prefix; };
  if (packet == "\x03") {
    interruptPending_ = true;
    return std::nullopt;
  }
  if (starts("qSupported")) {
    return std::string(kSupported);
  }
  if (packet == "QStartNoAckMode") {
    link_.send("OK");
    link_.acknowledge(false);
    return std::nullopt;
  }
  if (packet == "?") {
    return stopReply();
  }
  if (packet == "!" || starts("H") || starts("T") || packet == "qSymbol::") {
    return "OK";
  }
  if (packet == "qAttached") {
    return "1";
  }
  if (packet == "qC") {
    return "QC1";
  }
  if (packet == "qfThreadInfo") {
    return "m1";
  }
  if (packet == "qsThreadInfo") {
    return "l";
  }
  if (starts("qXfer:features:read:target.xml:")) {
    return documentPart(targetDescription(), view.substr(31));
  }
  if (starts("qXfer:memory-map:read::")) {
    return documentPart(target_.memoryMap(), view.substr(23));
  }
  if (starts("qXfer:")) {
    return "E00";
  }
  if (packet == "g") {
    return readRegisters();
  }
  if (starts("G")) {
    return writeRegisters(view.substr(1));
  }
  if (starts("p")) {
    const unsigned number = static_cast<unsigned>(std::strtoul(packet.c_str() + 1, nullptr, 16));
    const auto value = number < regs::kCount ? target_.readRegister(number) : std::nullopt;
    return value ? toHex(*value) : "E00";
  }
  if (starts("P")) {
    const size_t equals = view.find('=');
    const unsigned number = static_cast<unsigned>(std::strtoul(packet.c_str() + 1, nullptr, 16));
    const auto value = equals != std::string_view::npos ? fromHex(view.substr(equals + 1)) : std::nullopt;
    return number < regs::kCount && value && value->size() == regs::bytes(number) &&
                   target_.writeRegister(number, *value)
               ? "OK"
               : "E00";
  }
  if (starts("m")) {
    return memory(view.substr(1));
  }
  if (starts("M")) {
    return writeMemory(view.substr(1), false);
  }
  if (starts("X")) {
    return writeMemory(view.substr(1), true);
  }
  if (starts("Z") || starts("z")) {
    return points(view);
  }
  if (starts("vFlash")) {
    return flash(view);
  }
  if (starts("qRcmd,")) {
    return monitor(view.substr(6));
  }
  if (packet == "vCont?") {
    return "vCont;c;C;s;S;r";
  }
  if (starts("vCont;") || packet == "c" || packet == "s" || starts("C") || starts("S")) {
    action = resume(view);
    return action ? std::nullopt : std::optional<std::string>("E00");
  }
  if (packet == "k") {
    action = Action{Resume::Kill};
    return std::nullopt;
  }
  if (starts("vKill")) {
    action = Action{Resume::Kill};
    return "OK";
  }
  if (starts("D")) {
    action = Action{Resume::Detach};
    return "OK";
  }
  return "";  // not supported
}

std::string GdbServer::readRegisters() {
  std::string all;
  for (unsigned number = 0; number < regs::kCount; ++number) {
    const auto value = target_.readRegister(number);
    all += value ? toHex(*value) : std::string(regs::bytes(number) * 2, 'x');
  }
  return all;
}

std::string GdbServer::writeRegisters(std::string_view hex) {
  const auto bytes = fromHex(hex);
  if (!bytes) {
    return "E00";
  }
  size_t at = 0;
  for (unsigned number = 0; number < regs::kCount && at + regs::bytes(number) <= bytes->size(); ++number) {
    target_.writeRegister(number, std::string_view(*bytes).substr(at, regs::bytes(number)));
    at += regs::bytes(number);
  }
  return "OK";
}

std::string GdbServer::memory(std::string_view arguments) {
  uint32_t address = 0, length = 0;
  if (!addressAndLength(arguments, address, length)) {
    return "E00";
  }
  const auto bytes = target_.readMemory(address, length);
  return bytes && !bytes->empty() ? toHex(*bytes) : "E01";
}

std::string GdbServer::writeMemory(std::string_view arguments, bool binary) {
  const size_t colon = arguments.find(':');
  uint32_t address = 0, length = 0;
  if (colon == std::string_view::npos || !addressAndLength(arguments.substr(0, colon), address, length)) {
    return "E00";
  }
  const std::string_view data = arguments.substr(colon + 1);
  const auto bytes = binary ? std::optional<std::string>(std::string(data)) : fromHex(data);
  if (!bytes || bytes->size() != length) {
    return "E00";
  }
  return length == 0 || target_.writeMemory(address, *bytes) ? "OK" : "E01";
}

// Z/z type,address,kind: 0 and 1 breakpoints, 2 to 4 watchpoints.
std::string GdbServer::points(std::string_view packet) {
  const bool insert = packet[0] == 'Z';
  const size_t comma = packet.find(',');
  uint32_t address = 0, length = 0;
  if (packet.size() < 2 || comma != 2 || !addressAndLength(packet.substr(3), address, length)) {
    return "E00";
  }
  switch (packet[1]) {
    case '0':
    case '1': return target_.breakpoint(insert, address, packet[1] == '1') ? "OK" : "E01";
    case '2':
    case '3':
    case '4': {
      const Watch type = packet[1] == '2' ? Watch::Write : packet[1] == '3' ? Watch::Read : Watch::Access;
      return target_.watchpoint(insert, type, address, length) ? "OK" : "E01";
    }
    default: return "";
  }
}

std::string GdbServer::flash(std::string_view packet) {
  if (packet == "vFlashDone") {
    target_.flashDone();
    return "OK";
  }
  uint32_t address = 0, length = 0;
  if (packet.substr(0, 12) == "vFlashErase:") {
    return addressAndLength(packet.substr(12), address, length) && target_.eraseFlash(address, length) ? "OK" : "E01";
  }
  if (packet.substr(0, 12) == "vFlashWrite:") {
    const size_t colon = packet.find(':', 12);
    if (colon == std::string_view::npos) {
      return "E00";
    }
    address = static_cast<uint32_t>(std::strtoul(std::string(packet.substr(12, colon - 12)).c_str(), nullptr, 16));
    return target_.writeFlash(address, packet.substr(colon + 1)) ? "OK" : "E01";
  }
  return "";
}

std::string GdbServer::monitor(std::string_view hex) {
  const auto command = fromHex(hex);
  if (!command) {
    return "E00";
  }
  const auto output = target_.monitor(*command);
  print(output ? *output : "no such monitor command: " + *command + " (monitor help lists them)\n");
  return "OK";
}

// c, s, C sig, S sig and vCont with one action for the one thread.
std::optional<Action> GdbServer::resume(std::string_view packet) {
  if (packet.substr(0, 6) == "vCont;") {
    packet.remove_prefix(6);
    packet = packet.substr(0, packet.find_first_of(";:"));
  }
  if (packet.empty()) {
    return std::nullopt;
  }
  switch (packet[0]) {
    case 'c':
    case 'C': return Action{Resume::Continue};
    case 's':
    case 'S': return Action{Resume::Step};
    case 'r': {
      uint32_t from = 0, to = 0;
      if (!addressAndLength(packet.substr(1), from, to)) {
        return std::nullopt;
      }
      return Action{Resume::Range, from, to};
    }
    default: return std::nullopt;
  }
}

}  // namespace gdb
