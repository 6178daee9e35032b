// Each run in a process of its own: the firmware's module-level state starts
// from its initial values every time, whatever ran before in the test binary.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "sim/board.h"
#include "sim/emulator/emulator.h"

namespace sim {

namespace {

int resultDescriptor = -1;

void writeAll(int descriptor, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(descriptor, bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      _exit(3);
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
}

// Exactly size bytes from the descriptor; false at its end or an error.
bool readExactly(int descriptor, void* out, size_t size) {
  auto* bytes = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t count = read(descriptor, bytes, size);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    bytes += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

// A frame of the run's process: its header (new texts, new records, last
// or not), the texts, the records. The texts come first: the frame's
// records may name them.
struct FrameHeader {
  uint64_t texts;
  uint64_t records;
  uint64_t last;
};

// Read as the child writes it, while the run goes on: a day's run is
// hundreds of megabytes of records, which the sink may write out and drop.
// The last fault seen, whether kept or not, goes to fault.
bool receive(int descriptor, Timeline& timeline, const RecordSink& sink, std::string& fault) {
  std::vector<Record> block;
  for (;;) {
    FrameHeader header{};
    if (!readExactly(descriptor, &header, sizeof header) || header.records > kShippedBlock ||
        header.texts > (uint64_t{1} << 24)) {
      return false;
    }
    for (uint64_t index = 0; index < header.texts; ++index) {
      uint64_t length = 0;
      if (!readExactly(descriptor, &length, sizeof length) || length > (uint64_t{1} << 30)) {
        return false;
      }
      std::string& text = timeline.texts.emplace_back(length, '\0');
      if (!readExactly(descriptor, text.data(), length)) {
        return false;
      }
    }
    const size_t count = static_cast<size_t>(header.records);
    block.resize(count);  // most runs are short: no megabyte for each
    if (!readExactly(descriptor, block.data(), count * sizeof(Record))) {
      return false;
    }
    for (size_t index = 0; index < count; ++index) {
      const Record& record = block[index];
      if (record.kind == RecordKind::Fault) {
        if (record.detail >= timeline.texts.size()) {
          return false;
        }
        fault = "fault at " + formatTime(record.time) + ": " + timeline.texts[record.detail];
      }
      if (!sink || sink(record, timeline)) {
        timeline.records.push_back(record);
      }
    }
    if (header.last != 0) {
      char more = 0;
      return !readExactly(descriptor, &more, 1);
    }
  }
}

}  // namespace

void Board::ship(bool last) {
  if (resultDescriptor < 0) {
    return;
  }
  const FrameHeader header{timeline_.texts.size() - textsShipped_, timeline_.records.size() - unshipped_, last};
  // The texts in one piece: two writes a text cost more than the run's end.
  std::string packed(reinterpret_cast<const char*>(&header), sizeof header);
  for (size_t index = textsShipped_; index < timeline_.texts.size(); ++index) {
    const uint64_t length = timeline_.texts[index].size();
    packed.append(reinterpret_cast<const char*>(&length), sizeof length);
    packed.append(timeline_.texts[index]);
  }
  writeAll(resultDescriptor, packed.data(), packed.size());
  static std::vector<Record> block;
  block.assign(timeline_.records.begin() + static_cast<ptrdiff_t>(unshipped_), timeline_.records.end());
  writeAll(resultDescriptor, block.data(), block.size() * sizeof(Record));
  textsShipped_ = timeline_.texts.size();
  // The last few stay, for a debugger's look back.
  constexpr size_t kKeptTail = 1024;
  if (timeline_.records.size() > kKeptTail) {
    timeline_.records.erase(timeline_.records.begin(), timeline_.records.end() - kKeptTail);
  }
  unshipped_ = timeline_.records.size();
}

void Board::finish() {
  if (beforeFinish_) {
    auto last = std::move(beforeFinish_);
    beforeFinish_ = nullptr;
    last();
  }
  if (timeline_.records.empty() || timeline_.records.back().kind != RecordKind::Fault) {
    record(RecordKind::Ended, 0, 0);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  ship(true);
  _exit(0);
}

// Bench.

Bench::Bench() : uarts_(8), analogue_(12) {}

UartPeer& Bench::uart(unsigned index) { return uarts_.at(index); }

Bench& Bench::drive(Pin pin, Time at, PinState state) {
  pinChanges_.push_back(PinChange{at, pin, state});
  return *this;
}

std::vector<PinChange> pressChanges(Pin pin, Time at, Time hold, unsigned bounces, Time gap) {
  std::vector<PinChange> changes{{at, pin, PinState::Low}};
  for (unsigned bounce = 0; bounce < bounces; ++bounce) {
    changes.push_back({at + (2 * bounce + 1) * gap, pin, PinState::Undriven});
    changes.push_back({at + (2 * bounce + 2) * gap, pin, PinState::Low});
  }
  const Time release = at + hold;
  changes.push_back({release, pin, PinState::Undriven});
  for (unsigned bounce = 0; bounce < bounces; ++bounce) {
    changes.push_back({release + (2 * bounce + 1) * gap, pin, PinState::Low});
    changes.push_back({release + (2 * bounce + 2) * gap, pin, PinState::Undriven});
  }
  return changes;
}

Bench& Bench::press(Pin pin, Time at, Time hold, unsigned bounces, Time gap) {
  const std::vector<PinChange> changes = pressChanges(pin, at, hold, bounces, gap);
  pinChanges_.insert(pinChanges_.end(), changes.begin(), changes.end());
  return *this;
}

Bench& Bench::analogue(unsigned channel, std::function<uint16_t(Time)> source) {
  analogue_.at(channel) = std::move(source);
  return *this;
}

Bench& Bench::vectorTable(const hw::Handler* table) {
  vectors_ = table;
  return *this;
}

Outcome Bench::run(const std::function<void()>& entry, Time end) const {
  std::fflush(stdout);
  std::fflush(stderr);
  int channel[2];
  if (pipe(channel) != 0) {
    return Outcome({}, std::string("pipe failed: ") + std::strerror(errno));
  }
  // A long run's timeline is megabytes: fewer, larger transfers (the
  // default 64 KB when the system refuses).
  fcntl(channel[1], F_SETPIPE_SZ, 1 << 20);
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    return Outcome({}, std::string("fork failed: ") + std::strerror(errno));
  }
  if (child == 0) {
    close(channel[0]);
    resultDescriptor = channel[1];
    // Standard output goes where the chip's goes: the console UART.
    cookie_io_functions_t console{};
    console.write = [](void*, const char* data, size_t size) -> ssize_t {
      consoleWrite(data, size);
      return static_cast<ssize_t>(size);
    };
    stdout = fopencookie(nullptr, "w", console);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // The board lives until _exit; nothing of it returns to the test.
    auto* board = new Board(*this);
    board->run(entry, end);
  }
  close(channel[1]);
  Timeline timeline;
  std::string failure;
  const bool whole = receive(channel[0], timeline, sink_, failure);
  // What a failed read left unread, so that the child is not stuck writing.
  for (char rest[4096];;) {
    const ssize_t count = read(channel[0], rest, sizeof rest);
    if (count <= 0 && !(count < 0 && errno == EINTR)) {
      break;
    }
  }
  close(channel[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                : "exited with status " + std::to_string(WEXITSTATUS(status));
    return Outcome(std::move(timeline), "the run's process " + how);
  }
  if (!whole) {
    return Outcome({}, "the run's timeline could not be read");
  }
  return Outcome(std::move(timeline), std::move(failure));
}

Outcome Bench::runImage(const std::string& elfPath, Time end) const {
  return run([elfPath] { emulateImage(board(), elfPath, EMULATOR_ROM_IMAGE); }, end);
}

// Peers.

UartPeer& UartPeer::baud(uint32_t value) {
  rate = value;
  return *this;
}

UartPeer& UartPeer::send(Time at, std::string bytes) {
  sends.push_back(Send{at, std::move(bytes)});
  return *this;
}

UartPeer& UartPeer::reply(std::string trigger, std::string response, Time delay) {
  rules.push_back(Rule{std::move(trigger), std::move(response), delay, false});
  return *this;
}

UartPeer& UartPeer::replyOnce(std::string trigger, std::string response, Time delay) {
  rules.push_back(Rule{std::move(trigger), std::move(response), delay, true});
  return *this;
}

UartPeer& UartPeer::onByte(std::function<void(PeerLink&, uint8_t)> function) {
  handler = std::move(function);
  return *this;
}

UartPeer& UartPeer::device(std::shared_ptr<UartDevice> device) {
  model = std::move(device);
  return *this;
}

UartPeer& UartPeer::watch(Pin pin) {
  watched.push_back(pin);
  return *this;
}

// Queries.

namespace {

bool isSent(const Record& record, unsigned uart) {
  return record.kind == RecordKind::UartSent && record.unit == uart && record.detail != kSentPinNotRouted;
}

bool isReceived(const Record& record, unsigned uart) {
  return record.kind == RecordKind::UartReceived && record.unit == uart;
}

LineBytes lineOf(const Timeline& timeline, unsigned uart, bool (*wanted)(const Record&, unsigned)) {
  LineBytes line;
  for (const Record& record : timeline.records) {
    if (wanted(record, uart)) {
      line.bytes.push_back(static_cast<char>(record.value));
      line.times.push_back(record.time);
    }
  }
  return line;
}

}  // namespace

std::vector<TimedByte> Outcome::sentBytes(unsigned uart) const {
  std::vector<TimedByte> bytes;
  for (const Record& record : timeline_.records) {
    if (isSent(record, uart)) {
      bytes.push_back(TimedByte{record.time, static_cast<uint8_t>(record.value)});
    }
  }
  return bytes;
}

std::vector<TimedByte> Outcome::lost(unsigned uart) const {
  std::vector<TimedByte> bytes;
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::UartLost && record.unit == uart) {
      bytes.push_back(TimedByte{record.time, static_cast<uint8_t>(record.value)});
    }
  }
  return bytes;
}

LineBytes Outcome::sentLine(unsigned uart) const { return lineOf(timeline_, uart, isSent); }
LineBytes Outcome::receivedLine(unsigned uart) const { return lineOf(timeline_, uart, isReceived); }

std::string Outcome::sent(unsigned uart) const {
  std::string text;
  for (const Record& record : timeline_.records) {
    if (isSent(record, uart)) {
      text.push_back(static_cast<char>(record.value));
    }
  }
  return text;
}

std::string Outcome::received(unsigned uart) const {
  std::string text;
  for (const Record& record : timeline_.records) {
    if (isReceived(record, uart)) {
      text.push_back(static_cast<char>(record.value));
    }
  }
  return text;
}

Time Outcome::sentAt(unsigned uart, std::string_view text, size_t from) const {
  const LineBytes line = sentLine(uart);
  const size_t found = line.bytes.find(text, from);
  if (found == std::string::npos || text.empty()) {
    return kNever;
  }
  return line.times[found + text.size() - 1];
}

Time Outcome::sentStartAt(unsigned uart, std::string_view text, size_t from) const {
  const LineBytes line = sentLine(uart);
  const size_t found = line.bytes.find(text, from);
  if (found == std::string::npos || text.empty()) {
    return kNever;
  }
  return line.times[found];
}

std::string Outcome::sentBetween(unsigned uart, Time from, Time to) const {
  std::string text;
  for (const Record& record : timeline_.records) {
    if (isSent(record, uart) && record.time >= from && record.time < to) {
      text.push_back(static_cast<char>(record.value));
    }
  }
  return text;
}

std::vector<Record> Outcome::pinChanges(Pin pin) const {
  std::vector<Record> changes;
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::Pin && record.unit == pin.unit()) {
      changes.push_back(record);
    }
  }
  return changes;
}

int Outcome::pinLevel(Pin pin, Time at) const {
  int level = -1;
  for (const Record& record : pinChanges(pin)) {
    if (record.time <= at) {
      level = record.value;
    }
  }
  return level;
}

std::vector<Time> Outcome::interrupts(unsigned vector) const {
  std::vector<Time> times;
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::InterruptEnter && record.value == vector) {
      times.push_back(record.time);
    }
  }
  return times;
}

std::vector<std::pair<Time, std::string>> Outcome::notes() const {
  std::vector<std::pair<Time, std::string>> all;
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::Note) {
      all.emplace_back(record.time, timeline_.texts.at(record.detail));
    }
  }
  return all;
}

std::vector<std::pair<Time, std::string>> Outcome::peerRecords(unsigned uart) const {
  std::vector<std::pair<Time, std::string>> all;
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::Peer && record.unit == uart) {
      all.emplace_back(record.time, timeline_.texts.at(record.detail));
    }
  }
  return all;
}

std::optional<std::pair<uint32_t, uint32_t>> Outcome::stack() const {
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::Stack) {
      return std::pair<uint32_t, uint32_t>{record.value, record.detail};
    }
  }
  return std::nullopt;
}

uint64_t Outcome::executedHalfwords() const {
  for (const Record& record : timeline_.records) {
    if (record.kind == RecordKind::Executed) {
      return std::stoull(timeline_.texts.at(record.detail));
    }
  }
  return 0;
}

Time Outcome::end() const { return timeline_.records.empty() ? 0 : timeline_.records.back().time; }

// For entry programs.

Time now() { return board().now(); }
void runUntil(Time time) { board().runUntil(time); }
void note(std::string text) { board().note(std::move(text)); }

}  // namespace sim
