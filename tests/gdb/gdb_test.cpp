// The emulated board's GDB server, debugged by Debian's gdb-multiarch in
// batch mode as a user would, and its protocol spoken by hand where GDB
// does not go. Every wait has a bound.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <regex>

#include "tests/gdb/child_process.h"

namespace {

using namespace std::chrono_literals;
using gdb_test::ChildProcess;

const std::string kTracker = TRACKER_IMAGE;

// tracker_run with a GDB server on a port the system picks.
struct DebuggedRun {
  explicit DebuggedRun(const std::string& image, std::vector<std::string> options) : runner(arguments(image, options)) {
    EXPECT_TRUE(runner.awaitText("listening on 127.0.0.1:", 20s, true)) << runner.errors();
    std::smatch found;
    if (std::regex_search(runner.errors(), found, std::regex("127\\.0\\.0\\.1:([0-9]+)"))) {
      port = std::stoi(found[1]);
    }
  }
  static std::vector<std::string> arguments(const std::string& image, std::vector<std::string> options) {
    std::vector<std::string> all{TRACKER_RUN_PATH, "--image", image, "--gdb", "0"};
    all.insert(all.end(), options.begin(), options.end());
    return all;
  }
  ChildProcess runner;
  int port = 0;
};

std::vector<std::string> gdbBatch(int port, const std::string& image, const std::vector<std::string>& commands) {
  std::vector<std::string> all{GDB_MULTIARCH, "-batch", "-nx", "-ex", "set pagination off", "-ex",
                               "target extended-remote 127.0.0.1:" + std::to_string(port)};
  for (const std::string& command : commands) {
    all.push_back("-ex");
    all.push_back(command);
  }
  all.push_back(image);
  return all;
}

// gdb-multiarch's whole output, once it ended.
std::string debug(const DebuggedRun& run, const std::string& image, const std::vector<std::string>& commands) {
  ChildProcess gdb(gdbBatch(run.port, image, commands));
  EXPECT_TRUE(gdb.wait(120s).has_value()) << gdb.output() << gdb.errors();
  return gdb.output() + gdb.errors();
}

std::string plainRun(const std::vector<std::string>& options) {
  std::vector<std::string> all{TRACKER_RUN_PATH, "--image", kTracker};
  all.insert(all.end(), options.begin(), options.end());
  ChildProcess run(all);
  EXPECT_EQ(run.wait(120s), 0) << run.errors();
  return run.output();
}

// The world's RING reaches the modem handler, and the radius the server
// answers reaches the firmware: the debugger stops at both, looks, steps,
// reads the modem line's data register, and leaves the run as it would
// have been without it, byte for byte.
TEST(GdbServer, DebuggingLeavesTheRunAsItWas) {
  const std::vector<std::string> options{"--seconds", "130", "--ring", "100", "--radius", "400", "--timeline"};
  DebuggedRun run(kTracker, options);
  const std::string session =
      debug(run, kTracker,
            {"watch tracker::circleSize", "continue", "info registers d0 fpscr msp control", "delete",
             "watch tracker::callStatusFlag", "continue", "print tracker::recieveMessage", "bt", "monitor time",
             "delete", "break Int_sim900", "continue", "x/wx 0x40010000", "x/wx 0x40010000", "x/wx 0x40010018",
             "stepi", "stepi", "next", "delete", "continue"});
  ASSERT_TRUE(run.runner.wait(60s).has_value());
  // The RING a SIM900 sends for an incoming call, as captured on hardware.
  EXPECT_NE(session.find("$1 = \"\\r\\nRING\\r\\n\""), std::string::npos) << session;
  EXPECT_NE(session.find("Old value = 0\nNew value = 1"), std::string::npos) << session;
  // From the handler back through its exception frame to the code it
  // interrupted.
  EXPECT_TRUE(std::regex_search(session, std::regex("in Int_sim900 \\(\\).*\n#[0-9]  <signal handler called>\n#[0-9] .* in "
                                                    "hw::waitForInterrupt")))
      << session;
  EXPECT_NE(session.find("virtual time 100.0"), std::string::npos) << session;
  // The data register read twice gives the same byte: the read popped
  // nothing.
  std::smatch data;
  ASSERT_TRUE(std::regex_search(session, data, std::regex("0x40010000:\t(0x[0-9a-f]+)\n0x40010000:\t(0x[0-9a-f]+)")))
      << session;
  EXPECT_EQ(data[1], data[2]);
  EXPECT_NE(session.find("New value = 400"), std::string::npos) << session;
  EXPECT_TRUE(std::regex_search(session, std::regex("d0 +[-0-9.e]+ +\\(raw 0x[0-9a-f]{16}\\)\nfpscr +0x")))
      << session;
  EXPECT_NE(session.find("exited normally"), std::string::npos) << session;
  const std::string debugged = run.runner.output();
  EXPECT_GT(debugged.size(), 100000U);
  EXPECT_TRUE(debugged == plainRun(options)) << "the debugged run's timeline differs from the plain run's";
}

// A board that runs from reset: a debugger attaches to it running, a
// Ctrl-C halts it, and once it detaches the run goes on to its end as if
// no debugger had come.
TEST(GdbServer, AttachesToARunningBoardAndInterruptsIt) {
  const std::vector<std::string> options{"--seconds", "600", "--timeline"};
  std::vector<std::string> noWait = options;
  noWait.push_back("--gdb-no-wait");
  DebuggedRun run(kTracker, noWait);
  // GDB's own output waits in its buffer: the resume and the stop are told
  // on stderr. A Ctrl-C that comes while GDB is still resuming is lost, as
  // at a terminal: it is pressed again.
  ChildProcess gdb(gdbBatch(
      run.port, kTracker,
      {"python gdb.events.cont.connect(lambda event: (sys.stderr.write('resumed\\n'), sys.stderr.flush()))",
       "python gdb.events.stop.connect(lambda event: (sys.stderr.write('stopped\\n'), sys.stderr.flush()))",
       "continue", "monitor time", "monitor timeline 3", "monitor help", "monitor bogus", "detach"}));
  ASSERT_TRUE(gdb.awaitText("resumed", 30s, true)) << gdb.output() << gdb.errors();
  for (int press = 0; press < 10 && !gdb.awaitText("stopped", press == 0 ? 0ms : 2s, true); ++press) {
    gdb.signal(SIGINT);
  }
  ASSERT_TRUE(gdb.wait(60s).has_value()) << gdb.errors();
  const std::string session = gdb.output() + gdb.errors();
  EXPECT_NE(session.find("received signal SIGINT"), std::string::npos) << session;
  EXPECT_NE(session.find("virtual time "), std::string::npos) << session;
  EXPECT_NE(session.find("monitor timeline [N]"), std::string::npos) << session;
  EXPECT_NE(session.find("no such monitor command: bogus"), std::string::npos) << session;
  EXPECT_NE(session.find("(Remote target) detached]"), std::string::npos) << session;
  ASSERT_EQ(run.runner.wait(120s), 0) << run.runner.errors();
  EXPECT_TRUE(run.runner.output() == plainRun(options)) << "the run a debugger attached to differs from the plain run";
}

// A fault stops the image with SIGSEGV and its cause on GDB's console; the
// run then ends with it.
TEST(GdbServer, AFaultStopsWithItsCause) {
  const std::string image = std::string(EMULATOR_PROGRAMS_DIR) + "/faults_bus_fault.elf";
  DebuggedRun run(image, {"--seconds", "1"});
  const std::string session = debug(run, image, {"continue", "print/x $pc", "continue"});
  EXPECT_NE(session.find("read at unmapped address 0x60000004"), std::string::npos) << session;
  EXPECT_NE(session.find("received signal SIGSEGV"), std::string::npos) << session;
  EXPECT_NE(session.find("terminated with signal SIGSEGV"), std::string::npos) << session;
  EXPECT_EQ(run.runner.wait(30s), 1);
}

// load writes another image to the flash; after monitor reset the board
// runs it.
TEST(GdbServer, LoadAndResetRunTheNewImage) {
  DebuggedRun run(kTracker, {"--seconds", "2"});
  const std::string session =
      debug(run, kTracker,
            {"break main", "continue", "monitor press", "load " TYPEBACK_IMAGE, "monitor reset", "delete", "continue"});
  EXPECT_NE(session.find("the button pressed at "), std::string::npos) << session;
  EXPECT_NE(session.find("Start address 0x"), std::string::npos) << session;
  EXPECT_NE(session.find("reset: halted at 0x"), std::string::npos) << session;
  EXPECT_EQ(run.runner.wait(30s), 0) << run.runner.errors();
  EXPECT_NE(run.runner.output().find("Enter text: "), std::string::npos) << run.runner.output();
}

// A bare client of the protocol.
class Client {
 public:
  explicit Client(int port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { close(); }
  void close() {
    if (socket_ >= 0) {
      ::close(socket_);
      socket_ = -1;
    }
  }
  bool connected() const { return connected_; }
  void send(const std::string& bytes) { ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  static std::string packet(const std::string& payload) {
    unsigned sum = 0;
    for (const unsigned char byte : payload) {
      sum += byte;
    }
    char trailer[4];
    std::snprintf(trailer, sizeof trailer, "#%02x", sum & 0xFFU);
    return "$" + payload + trailer;
  }
  // What came within the limit, up to a whole reply when one is wanted;
  // nothing more once the server closed.
  std::string receive(std::chrono::milliseconds limit, bool wholePacket = true) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const size_t hash = got.find('#');
      if (!wholePacket ? !got.empty() : hash != std::string::npos && hash + 2 < got.size()) {
        return got;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd ready{socket_, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
        return got;
      }
      char buffer[512];
      const ssize_t count = recv(socket_, buffer, sizeof buffer, 0);
      if (count <= 0) {
        closed_ = true;
        return got;
      }
      got.append(buffer, static_cast<size_t>(count));
    }
  }
  bool closed() const { return closed_; }

 private:
  int socket_;
  bool connected_ = false;
  bool closed_ = false;
};

TEST(GdbServer, ProtocolEdges) {
  DebuggedRun run(kTracker, {"--seconds", "20"});
  Client first(run.port);
  ASSERT_TRUE(first.connected());
  // A checksum that does not match is refused; the resent packet is taken.
  first.send("$qSupported#00");
  EXPECT_EQ(first.receive(10s, false), "-");
  first.send(Client::packet("qSupported"));
  const std::string supported = first.receive(10s);
  EXPECT_EQ(supported.substr(0, 2), "+$");
  for (const char* feature : {"PacketSize=", "qXfer:features:read+", "qXfer:memory-map:read+", "swbreak+", "hwbreak+"}) {
    EXPECT_NE(supported.find(feature), std::string::npos) << feature;
  }
  first.send("+");
  // An unknown packet gets the empty reply.
  first.send(Client::packet("qNoSuchThing"));
  EXPECT_EQ(first.receive(10s), "+$#00");
  first.send("+");
  // The halted board at reset.
  first.send(Client::packet("?"));
  EXPECT_EQ(first.receive(10s), "+$T05#b9");
  first.send("+");
  // A second debugger while one is connected is closed at once.
  Client second(run.port);
  ASSERT_TRUE(second.connected());
  second.receive(10s, false);
  EXPECT_TRUE(second.closed());
  // The debugger resumes the board and vanishes: the run goes on to its end.
  first.send(Client::packet("c"));
  first.receive(10s, false);
  first.close();
  EXPECT_EQ(run.runner.wait(60s), 0) << run.runner.errors();
  EXPECT_NE(run.runner.output().find("== ended at 20.000000000000 s =="), std::string::npos) << run.runner.output();
  // k ends the run where it stands.
  DebuggedRun killed(kTracker, {"--seconds", "20"});
  Client debugger(killed.port);
  debugger.send(Client::packet("k"));
  EXPECT_EQ(killed.runner.wait(60s), 0) << killed.runner.errors();
  std::smatch ended;
  ASSERT_TRUE(std::regex_search(killed.runner.output(), ended, std::regex("== ended at ([0-9.]+) s ==")));
  EXPECT_LT(std::stod(ended[1]), 0.001);
}

}  // namespace
