// Scenario files: refused whole with one error naming the line and the
// field; run, they write a timeline, a waveform, a trace and a report, the
// same bytes every time.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <poll.h>
#include <termios.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>
#include <utility>

#include "sim/runner/scenario.h"
#include "sim/runner/scenario_run.h"
#include "sim/runner/tracker_firmware.h"
#include "tests/sim/sigrok_decode.h"

namespace {

using namespace sim;

std::string errorOf(const std::string& text) {
  try {
    (void)parseScenario(text, "bad.toml");
  } catch (const ScenarioError& error) {
    return error.what();
  }
  return "no error";
}

TEST(ScenarioFile, EachMistakeIsNamedWithItsLineAndField) {
  EXPECT_EQ(errorOf("[wearer]\nspeed = 1\n"), "bad.toml:0: run: the [run] table with its seconds is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = -5\n"), "bad.toml:2: run.seconds: a number of seconds from 0 is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\nfirmwear = \"host\"\n"), "bad.toml:3: run.firmwear: no such field");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[wearer]\nwalk = [[91.0, 28.0]]\n"),
            "bad.toml:4: wearer.walk latitude: a number from -90 to 90 is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[network]\nfaults = [{ kind = \"rain\", from = 1 }]\n"),
            "bad.toml:4: network.faults.kind: one of no_network, slow_network, server_unreachable, bearer_dropped, "
            "power_loss, under_voltage, brown_out, texts_refused");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[modem]\nprofile = \"real\"\n"), "bad.toml:4: modem.profile: one of field, lenient");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[modem]\nbusy = \"wait\"\n"), "bad.toml:4: modem.busy: one of queue, drop, error");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[modem]\nregistration = [60, 5]\n"),
            "bad.toml:4: modem.registration: the range's min is above its max");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[modem]\nseed = 2.5\n"), "bad.toml:4: modem.seed: a whole number is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[[phone.callers]]\nat = 5\nnumber = \"+90 555\"\n"),
            "bad.toml:5: phone.callers.number: a number of digits, \"+\" and the country code first for an international one");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[phone]\ntexts = [{ at = 5 }]\n"),
            "bad.toml:4: phone.texts: a text needs its time (at) and its text");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[server]\nkind = \"cloud\"\n"),
            "bad.toml:4: server.kind: one of real, bench, none");
  // Sense, not only syntax: spans in order and inside the run, times inside
  // it, whole counts, a walk to walk at a speed, a firmware that exists.
  EXPECT_EQ(errorOf("[run]\nseconds = 60\n[network]\nfaults = [{ kind = \"no_network\", from = 30, to = 20 }]\n"),
            "bad.toml:4: network.faults: the span ends before it starts");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\n[wearer]\nwithout_fix = [[50, 10]]\n"),
            "bad.toml:4: wearer.without_fix: the span ends before it starts");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\n[button]\npresses = [100]\n"),
            "bad.toml:4: button.presses: 100 s is not inside the run of 60 s");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\n[phone]\nanswer = 2.7\n"), "bad.toml:4: phone.answer: a whole number is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\n[wearer]\nwalk = []\nspeed = 2\n"),
            "bad.toml:5: wearer.speed: a walk of two points or more is needed to walk at a speed");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\nfirmware = \"ARM\"\n"),
            "bad.toml:3: run.firmware: \"host\", \"arm\" or the path of an ELF image, from the scenario's folder: ARM is no ELF image");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\ngdb = 3333\n"),
            "bad.toml:3: run.gdb: a debugger needs the emulated board: firmware = \"arm\" or an ELF image");
  // Expectations: a kind, the fields of that kind, patterns that compile,
  // counts that can be met, handlers the tracker has.
  const auto expectError = [](const std::string& table) {
    return errorOf("[run]\nseconds = 60\n[[expect]]\n" + table + "\n");
  };
  EXPECT_EQ(expectError("kind = \"weather\""), "bad.toml:4: expect.kind: one of text, call, http, stored_reports, "
                                               "alerts, console, no_fault, stack, lost_bytes, hold");
  EXPECT_EQ(expectError("kind = \"alerts\"\npath = \"/x\""),
            "bad.toml:5: expect.path: no such field for an expectation of kind alerts");
  EXPECT_EQ(expectError("kind = \"text\"\nto = \"caretaker\"\nmatches = \"(\"").rfind(
                "bad.toml:6: expect.matches: not a regular expression: ", 0),
            0U);
  EXPECT_EQ(expectError("kind = \"text\"\nto = \"caretaker\"\nmatches = \"x\"\ncount = 1\nat_least = 2"),
            "bad.toml:7: expect.count: count is exact: at_least and at_most go without it");
  EXPECT_EQ(expectError("kind = \"alerts\"\nwithin = [30, 100]"),
            "bad.toml:5: expect.within: 100 s is not inside the run of 60 s");
  EXPECT_EQ(expectError("kind = \"stored_reports\""),
            "bad.toml:3: expect.kind: stored_reports needs the real report server: [server] kind = \"real\"");
  EXPECT_EQ(expectError("kind = \"stack\""), "bad.toml:3: expect.below: an expectation of kind stack needs it");
  EXPECT_EQ(expectError("kind = \"lost_bytes\"\nline = \"UART9\"\nat_most = 0"),
            "bad.toml:5: expect.line: a UART of the chip, UART0 to UART7");
  EXPECT_EQ(expectError("kind = \"hold\"\nhandler = \"Int_Nothing\"\nat_most_ms = 1"),
            "bad.toml:5: expect.handler: one of the tracker's handlers, by function or peripheral: Int_PulseTimer "
            "(TIMER0A), Int_PostDataTimer (TIMER1A), Int_PressControl (GPIOF), Int_Gps (UART2), Int_sim900 (UART4), "
            "Int_Camera (UART5)");
  // Broken TOML: the line of the fault, in the reader's words.
  const std::string broken = errorOf("[run]\nseconds = 10\n[phone\n");
  EXPECT_EQ(broken.rfind("bad.toml:3: ", 0), 0U) << broken;
  // A good file.
  const Scenario scenario = parseScenario(
      "[run]\nname = \"n\"\nseconds = 90.5\nfirmware = \"arm\"\nfault_handlers = true\ngdb = 3333\n[wearer]\nwalk = [[41.0, 29.0], [41.001, 29.0]]\n"
      "speed = 2\nwithout_fix = [[10, 20]]\n[button]\npresses = [5]\n[phone]\nanswer = \"busy\"\n"
      "calls = [{ at = 30, ring_for = 9, talk = 3 }]\n[network]\nfaults = [{ kind = \"power_loss\", from = 40, to = 50 }]\n",
      "good.toml");
  EXPECT_EQ(scenario.length, seconds(90) + milliseconds(500));
  EXPECT_EQ(scenario.firmware, "arm");
  EXPECT_TRUE(scenario.faultHandlers);
  ASSERT_TRUE(scenario.debugServer.has_value());
  EXPECT_EQ(scenario.debugServer->port, 3333);
  EXPECT_EQ(scenario.debugServer->host, "127.0.0.1");
  EXPECT_EQ(scenario.walk.size(), 2U);
  EXPECT_TRUE(scenario.phone.busy);
  ASSERT_EQ(scenario.phone.calls.size(), 1U);
  EXPECT_EQ(scenario.phone.calls[0].ringFor, seconds(9));
  ASSERT_EQ(scenario.faults.size(), 1U);
  EXPECT_EQ(scenario.faults[0].to, seconds(50));
  EXPECT_TRUE(scenario.modem.strict);  // the field's modem unless the file says otherwise
  EXPECT_EQ(scenario.modem.busy, peers::BusyPolicy::Drop);
  EXPECT_FALSE(parseScenario("[run]\nseconds = 9\n[modem]\nprofile = \"lenient\"\n", "lenient.toml").modem.strict);
  // The modem's field profile, chosen and adjusted.
  const Scenario field = parseScenario(
      "[run]\nseconds = 60\n[modem]\nprofile = \"field\"\nseed = 7\nbusy = \"error\"\nboot = \"fixed\"\n"
      "registration = [5, 60]\nhttp_answer = [1, 10.5]\napn = \"internet\"\npower_key = true\n"
      "[phone]\nvoicemail_after = 25\n[[phone.callers]]\nat = 30\nnumber = \"+14155550100\"\n",
      "field.toml");
  EXPECT_TRUE(field.modem.strict);
  EXPECT_EQ(field.modem.seed, 7U);
  EXPECT_EQ(field.modem.busy, peers::BusyPolicy::Error);
  EXPECT_EQ(field.modem.boot, peers::BootMode::Fixed);
  EXPECT_EQ(field.modem.timing.registration.high, seconds(60));
  EXPECT_EQ(field.modem.timing.httpAction.high, seconds(10) + milliseconds(500));
  EXPECT_EQ(field.modem.network.apn, "internet");
  EXPECT_FALSE(field.modem.selfPowered);
  ASSERT_TRUE(field.phone.answerAfterRings.has_value());
  EXPECT_EQ(field.phone.answerAfterRings->high, 6U);
  EXPECT_EQ(field.phone.voicemailAfter->low, seconds(25));
  ASSERT_EQ(field.phone.calls.size(), 1U);
  EXPECT_EQ(field.phone.calls[0].number, "+14155550100");
}

// What arrived on a UART's receive line: the bytes the chip took and the
// bytes it lost, in order.
std::string onTheLine(const Outcome& run, unsigned uart) {
  std::string bytes;
  for (const Record& record : run.timeline().records) {
    if ((record.kind == RecordKind::UartReceived || record.kind == RecordKind::UartLost) && record.unit == uart) {
      bytes.push_back(static_cast<char>(record.value));
    }
  }
  return bytes;
}

std::filesystem::path temporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "scenario-XXXXXX").string();
  return mkdtemp(pattern.data());
}

// A bad file stops tracker_run before the run: its one error on stderr, no
// output folder, exit status 2.
TEST(ScenarioFile, AnImageIsFoundFromTheScenariosFolder) {
  const auto folder = std::filesystem::temp_directory_path() / ("scenario-image-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "tracker.elf", std::ios::binary) << "\x7F" "ELF, enough for the check";
  std::ofstream(folder / "run.toml") << "[run]\nseconds = 10\nfirmware = \"tracker.elf\"\n";
  EXPECT_EQ(readScenario((folder / "run.toml").string()).firmware, (folder / "tracker.elf").string());
  std::filesystem::remove_all(folder);
}

TEST(ScenarioFile, NanAndInfinityAreNoNumbersAndErrorsAreOnePrintableLine) {
  // Found by fuzzing: nan passed every range check (and became a time or a
  // radius by an undefined conversion); the reader's errors quoted control
  // bytes of the file as they were.
  EXPECT_EQ(errorOf("[run]\nseconds = nan\n"), "bad.toml:2: run.seconds: a number of seconds from 0 is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[server]\nradius = nan\n"),
            "bad.toml:4: server.radius: a number from 1 to 9999 is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[wearer]\nspeed = -nan\n"),
            "bad.toml:4: wearer.speed: a number from 0 to 100 is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n[phone]\nanswer = inf\n"),
            "bad.toml:4: phone.answer: a number from 0 to 20 is needed");
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n\"\\u001b[2J\" = 1\n"), "bad.toml:3: run.\\x1b[2J: no such field");
  const std::string broken = errorOf("[run]\nseconds = 1\x07\n");
  EXPECT_EQ(broken.rfind("bad.toml:2: ", 0), 0U) << broken;
  for (char character : broken) {
    EXPECT_TRUE(character >= 0x20 && character < 0x7F) << broken;
  }
}

// tracker_run with these arguments: its exit status, and what it printed
// on stdout and stderr.
// A command's status and what it printed, stderr too.
std::pair<int, std::string> runCommand(const std::string& shellCommand) {
  const std::string command = shellCommand + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char line[256];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
    output += line;
  }
  const int status = pipe == nullptr ? -1 : pclose(pipe);
  return {WEXITSTATUS(status), output};
}

std::pair<int, std::string> trackerRun(const std::string& arguments, const std::string& runner = TRACKER_RUN_PATH) {
  return runCommand(runner + " " + arguments);
}

TEST(TrackerRun, EachOptionIsCheckedAndAWrongOneNamedBeforeAnythingRuns) {
  const std::filesystem::path folder = temporaryFolder();
  const std::string scenario = std::string(SCENARIOS_DIR) + "/sos-call.toml";
  std::ofstream(folder / "a-file") << "x";
  const std::vector<std::pair<std::string, std::string>> wrong = {
      {"--seconds -5", "--seconds"},
      {"--seconds abc", "--seconds"},
      {"--seconds 2 --press 3.5", "--press: 3.5 s is not inside the run of 2 s"},
      {"--ring -1", "--ring"},
      {"--radius abc", "--radius"},
      {"--radius 0", "--radius"},
      {"--server nohost", "--server: HOST:PORT is needed"},
      {"--server host:70000", "--server: the port must be a number from 1 to 65535"},
      {"--vcd /nonexistent/dir/x.vcd", "--vcd: no such folder: /nonexistent/dir"},
      {"--image /nonexistent.elf", "--image"},
      {"--bogus", "--bogus"},
      {"--scenario " + scenario + " --out " + (folder / "o").string() + " --outputs report.html,bogus",
       "--outputs: \"bogus\" is none of summary.json, console.txt, report.html, trace.json, timeline.txt, waveform.vcd"},
      {"--outputs report.html", "--outputs requires --scenario"},
      {"--uart 8=pty", "--uart: N=pty, N=/dev/PORT or N=tcp:PORT, N a UART from 0 to 7"},
      {"--uart 0=tcp:70000", "--uart: N=pty, N=/dev/PORT or N=tcp:PORT"},
      {"--uart 0=pty@10", "and @RATE (300 to 3000000 baud)"},
      {"--uart 0=/nonexistent/tty", "UART0: /nonexistent/tty: No such file or directory"},
      {"--vcd-step 7", "--vcd-step: 7 not in {1,10,100,1000,10000}"},
      {"--firmware ARM", "--firmware: host, arm, or the path of an ELF image: ARM is no ELF image"},
      {"--firmware arm --image " TRACKER_IMAGE_PATH, "excludes"},
      {"--gdb 3333", "--gdb needs the emulated board"},
      {"--gdb host:", "--gdb: the port must be a number from 1 to 65535"},
      {"--gdb-no-wait", "--gdb-no-wait requires --gdb"},
      {"--scenario " + scenario, "--scenario requires --out"},
      {"--scenario " + scenario + " --out " + (folder / "a-file").string(), "--out: a folder is needed"},
      {"--scenario " + scenario + " --out " + (folder / "o").string() + " --seconds 4", "excludes"},
  };
  for (const auto& [arguments, named] : wrong) {
    const auto [status, output] = trackerRun(arguments);
    EXPECT_EQ(status, 2) << arguments;
    EXPECT_NE(output.find(named), std::string::npos) << arguments << ": " << output;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "o"));
  // Help: each option with its meaning and default, status 0.
  const auto [helpStatus, help] = trackerRun("--help");
  EXPECT_EQ(helpStatus, 0);
  for (const char* text : {"--seconds", "=45", "--press", "--ring", "--radius", "=250", "--server", "--image", "--vcd",
                           "--timeline", "--scenario", "--out", "--gdb", "--gdb-no-wait", "--firmware", "--outputs", "--vcd-step", "--realtime", "--uart"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text << "\n" << help;
  }
  // A fractional press is kept as given: the button's interrupt at 1.5 s,
  // not at 1 s.
  const auto [status, output] = trackerRun("--seconds 2 --press 1.5 --timeline");
  EXPECT_EQ(status, 0);
  const size_t press = output.find(" interrupt 46 enter");
  ASSERT_NE(press, std::string::npos);
  EXPECT_EQ(output.substr(output.rfind('\n', press) + 1, 4), "1.50") << output.substr(output.rfind('\n', press) + 1, 40);
  std::filesystem::remove_all(folder);
}

// "arm" is the image beside the runner, wherever the two were copied; with
// none there (nor in a build tree) the run is refused, naming where it looked.
TEST(TrackerRun, TheArmImageIsFoundBesideTheRunner) {
  const std::filesystem::path folder = temporaryFolder();
  std::filesystem::copy_file(TRACKER_RUN_PATH, folder / "tracker_run");
  const std::string runner = (folder / "tracker_run").string();
  const auto [missing, refusal] = trackerRun("--firmware arm --seconds 1", runner);
  EXPECT_EQ(missing, 2);
  EXPECT_NE(refusal.find("no image at " + (folder / "tracker_firmware.elf").string()), std::string::npos) << refusal;
  std::filesystem::copy_file(TRACKER_IMAGE_PATH, folder / "tracker_firmware.elf");
  const auto [status, output] = trackerRun("--firmware arm --seconds 1", runner);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("UART Setup Completed"), std::string::npos) << output;
  std::filesystem::remove_all(folder);
}

// --realtime keeps virtual time to the wall clock, on both boards: a second
// at twice real time lasts half a second at least, and the run is the same
// as without it.
TEST(TrackerRun, RealTimeKeepsToTheWallClockAndChangesNothingElse) {
  for (const char* board : {"host", "arm"}) {
    const std::string run = std::string("--firmware ") + board + " --seconds 1 --press 0.5";
    const auto [fastStatus, fast] = trackerRun(run);
    const auto started = std::chrono::steady_clock::now();
    const auto [status, paced] = trackerRun(run + " --realtime 2");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(status, 0) << board << paced;
    EXPECT_GE(wall, 0.5) << board;
    EXPECT_LT(wall, 30.0) << board;
    // A loaded machine may fall behind now and then, and says so; the run
    // itself stays the same.
    std::string runOnly;
    std::istringstream lines(paced);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("realtime: ", 0) != 0) {
        runOnly += line + "\n";
      }
    }
    EXPECT_EQ(runOnly, fast) << board;
  }
  for (const char* wrong : {"--realtime 0", "--realtime -1", "--realtime abc", "--realtime 1001"}) {
    const auto [status, output] = trackerRun(std::string(wrong) + " --seconds 1");
    EXPECT_EQ(status, 2) << wrong;
    EXPECT_NE(output.find("--realtime: a factor above 0, up to 1000"), std::string::npos) << output;
  }
}

// tracker_run in the background, what it prints read as it comes, every
// wait bounded.
struct RunningRunner {
  explicit RunningRunner(const std::string& command) : pipe(popen(command.c_str(), "r")) {}
  ~RunningRunner() {
    if (pipe != nullptr) {
      pclose(pipe);
    }
  }
  // Reads until text appears (after what was read at from), for at most
  // 10 s; false if it did not.
  bool readUntil(const std::string& text) { return readUntil(text, 0); }
  bool readUntil(const std::string& text, size_t from) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pipe != nullptr && printed.find(text, from) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd ready{fileno(pipe), POLLIN, 0};
      if (poll(&ready, 1, 100) > 0) {
        char bytes[4096];
        const ssize_t count = read(fileno(pipe), bytes, sizeof bytes);
        if (count <= 0) {
          break;
        }
        printed.append(bytes, static_cast<size_t>(count));
      }
    }
    return printed.find(text, from) != std::string::npos;
  }
  // The path its first line announces for UART0's host line.
  std::string hostLine() {
    const std::string announced = "UART0 is on ";
    if (!readUntil("\n") || printed.rfind(announced, 0) != 0) {
      return {};
    }
    return printed.substr(announced.size(), printed.find('\n') - announced.size());
  }
  std::FILE* pipe;
  std::string printed;
};

// UART0 given to a pseudo-terminal, the serial echo image on the emulated
// board in real time: what the host writes is echoed, and 100 bytes
// written at once reach the chip a character time apart at 115 200 baud
// (10 bits: 86.8 us each, 8.6 ms for the hundred), more than the echo's
// handler keeps up with: the receive FIFO overruns, as on the chip, and
// only what it took comes back. Every wait is bounded.
TEST(TrackerRun, ALineOnTheHostTakesWhatTheHostTypesAtTheLinesRate) {
  // A terminal the runner makes, a serial port the test gives it (a
  // pseudo-terminal's far side, which takes speeds as a port does), and a
  // socket the runner listens on.
  for (const std::string mode : {"pty", "port", "tcp:0"}) {
    SCOPED_TRACE(mode);
    const bool port = mode == "port";
    const bool socketLine = mode == "tcp:0";
    int ours = -1;
    std::string given = mode;
    if (port) {
      ours = posix_openpt(O_RDWR | O_NOCTTY);
      ASSERT_GE(ours, 0);
      ASSERT_EQ(grantpt(ours), 0);
      ASSERT_EQ(unlockpt(ours), 0);
      fcntl(ours, F_SETFD, FD_CLOEXEC);  // the runner must not hold it open too
      given = ptsname(ours);
    }
    const std::string command = std::string(TRACKER_RUN_PATH) + " --image " + TYPEBACK_IMAGE_PATH +
                                " --seconds 4 --realtime --uart 0=" + given + " --timeline 2>&1";
    RunningRunner runner(command);
    const std::string& printed = runner.printed;
    const auto readUntil = [&](const std::string& text) { return runner.readUntil(text); };
    const std::string path = runner.hostLine();
    ASSERT_FALSE(path.empty()) << printed;
    int terminal = port ? ours : -1;
    if (socketLine) {
      const std::string shown = "tcp:127.0.0.1:";
      ASSERT_EQ(path.rfind(shown, 0), 0U) << path;
      terminal = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(std::stoul(path.substr(shown.size()))));
      ASSERT_EQ(connect(terminal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    } else if (!port) {
      terminal = open(path.c_str(), O_RDWR | O_NOCTTY);
    }
    ASSERT_GE(terminal, 0) << path;
    EXPECT_EQ(path, port ? given : path);
    std::string echoed;
    const auto echoedUntil = [&](size_t size, int waitMs = 5000) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
      while (echoed.size() < size && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, 100) > 0) {
          char bytes[256];
          const ssize_t count = read(terminal, bytes, sizeof bytes);
          echoed.append(bytes, static_cast<size_t>(std::max<ssize_t>(count, 0)));
        }
      }
    };
    // The prompt, but for a socket: what went out before the client
    // connected reached no one.
    const std::string prompt = "\x1B[2JEnter text: ";
    if (!socketLine) {
      echoedUntil(prompt.size());
      EXPECT_EQ(echoed, prompt);
    } else {
      while (poll(std::array<pollfd, 1>{{{terminal, POLLIN, 0}}}.data(), 1, 500) > 0) {
        echoedUntil(echoed.size() + 1);  // the prompt's rest, if the client came in time for some
      }
      EXPECT_EQ(prompt.substr(prompt.size() - echoed.size()), echoed);
    }
    const size_t typed = echoed.size();
    ASSERT_EQ(write(terminal, "abc", 3), 3);
    echoedUntil(typed + 3);
    EXPECT_EQ(echoed.substr(typed), "abc");
    if (port) {
      // The port runs at the firmware's 115 200 baud.
      const int side = open(given.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      termios settings{};
      ASSERT_EQ(tcgetattr(side, &settings), 0);
      EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
      close(side);
    }
    const std::string hundred(100, 'x');
    ASSERT_EQ(write(terminal, hundred.data(), hundred.size()), 100);
    echoedUntil(typed + 103, 1500);  // fewer come back: the FIFO overruns
    if (port) {
      close(terminal);  // the port goes away: the run ends there
      terminal = -1;
    }
    EXPECT_TRUE(readUntil(" end\n")) << printed.substr(0, 300);
    const size_t endLine = printed.rfind('\n', printed.size() - 2) + 1;
    EXPECT_EQ(std::stod(printed.substr(endLine)) < 3.9, port) << printed.substr(endLine);
    EXPECT_EQ(printed.find(" closed: the run ends here, at ") != std::string::npos, port);
    if (terminal >= 0) {
      close(terminal);
    }
    // The hundred's arrivals in the receive FIFO, from the timeline.
    std::vector<double> arrivals;
    size_t taken = 0;
    size_t overrun = 0;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
      const bool took = line.find(" UART0 received 78 'x'") != std::string::npos;
      const bool lost = line.find(" UART0 lost 78 'x' fifo-full") != std::string::npos;
      if (took || lost) {
        arrivals.push_back(std::stod(line));
        taken += took;
        overrun += lost;
      }
    }
    ASSERT_EQ(arrivals.size(), 100U);
    EXPECT_GT(overrun, 0U);
    EXPECT_EQ(echoed.substr(typed + 3), std::string(taken, 'x'));
    EXPECT_NEAR(arrivals.back() - arrivals.front(), 99 * 10 / 115200.0, 20e-6);
  }
}

// What a flood or a device at the wrong rate does to the echo image: the
// chip's receive FIFO overruns, or it hears framing errors; the run goes on
// to its end either way.
TEST(TrackerRun, AFloodOrADeviceAtTheWrongRateGetsWhatTheChipWouldDo) {
  for (const std::string line : {"pty", "pty@9600"}) {
    SCOPED_TRACE(line);
    RunningRunner runner(std::string(TRACKER_RUN_PATH) + " --image " + TYPEBACK_IMAGE_PATH +
                         " --seconds 2 --realtime 2 --uart 0=" + line + " --timeline 2>&1");
    const std::string path = runner.hostLine();
    const int terminal = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0) << runner.printed;
    const std::string flood(500, 'y');
    ASSERT_EQ(write(terminal, flood.data(), flood.size()), 500);
    EXPECT_TRUE(runner.readUntil("2.000000000000 end\n")) << runner.printed.substr(0, 300);
    close(terminal);
    size_t overrun = 0;
    size_t framing = 0;
    std::istringstream lines(runner.printed);
    for (std::string text; std::getline(lines, text);) {
      overrun += text.find(" UART0 lost 79 'y' fifo-full") != std::string::npos;
      framing += text.find(" UART0 received") != std::string::npos && text.find(" framing-error") != std::string::npos;
    }
    if (line == "pty") {
      EXPECT_GT(overrun, 400U);  // 500 at 115 200 baud, faster than the echo takes them
      EXPECT_EQ(framing, 0U);
    } else {
      EXPECT_GT(framing, 100U);  // 9600-baud frames read at 115 200
    }
  }
}

TEST(ScenarioFile, TrackerRunRefusesABadFileAndRunsNothing) {
  const std::filesystem::path folder = temporaryFolder();
  std::ofstream(folder / "bad.toml") << "[run]\nseconds = 10\n[button]\npresses = [\"soon\"]\n";
  const auto [status, output] =
      trackerRun("--scenario " + (folder / "bad.toml").string() + " --out " + (folder / "out").string());
  EXPECT_EQ(status, 2);
  EXPECT_EQ(output, "tracker_run: " + (folder / "bad.toml").string() +
                        ":4: button.presses: a number of seconds from 0 is needed\n");
  EXPECT_FALSE(std::filesystem::exists(folder / "out"));
  std::filesystem::remove_all(folder);
}

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ScenarioRun, WritesItsOutputsTheSameEveryTime) {
  const Scenario scenario = parseScenario(R"(
[run]
name = "Short walk"
seconds = 100
[wearer]
walk = [[41.015137, 28.979530], [41.019634, 28.979530]]
speed = 8
[button]
presses = [30]
[phone]
hang_up_after = 10
texts = [{ at = 50, text = "@300$" }]
[modem]
registration = [5, 5]
[network]
faults = [{ kind = "texts_refused", from = 83, to = 88 }]
[server]
kind = "bench"
radius = 250
)",
                                          "short.toml");
  const std::filesystem::path folder = temporaryFolder();
  const ScenarioResult first = runScenario(scenario, runTrackerFirmware, folder / "first");
  // The second with the progress bar: it must not change the run.
  const ScenarioResult second = runScenario(scenario, runTrackerFirmware, folder / "second", true);
  ASSERT_TRUE(first.outcome.ok()) << first.outcome.failure();
  for (const char* name : kOutputFiles) {
    const std::string output = contents(folder / "first" / name);
    EXPECT_GT(output.size(), 100U) << name;
    EXPECT_EQ(output, contents(folder / "second" / name)) << name;
  }
  // The outputs of every record were written as the run went, and the
  // outcome kept no handler entries and no GPS bytes; the same run with its
  // whole timeline kept shows what they should hold.
  const ScenarioResult whole = playScenario(scenario, runTrackerFirmware, folder / "whole");
  const Outcome& all = whole.outcome;
  const std::string timeline = contents(folder / "first" / "timeline.txt");
  EXPECT_EQ(timeline, all.text());
  EXPECT_TRUE(first.outcome.interrupts(46).empty());
  EXPECT_FALSE(all.interrupts(46).empty());
  EXPECT_TRUE(first.outcome.received(2).empty());
  EXPECT_EQ(first.outcome.timeline().records.size(),
            std::count_if(all.timeline().records.begin(), all.timeline().records.end(), keptForTheReport));
  EXPECT_EQ(first.outcome.sent(0), all.sent(0));
  // What the world did is in the timeline with what the board did.
  for (const char* input : {"\n30.000000000000 input button pressed\n", "\n30.300000000000 input button released\n",
                            "\n50.000000000000 input the caretaker texts \"@300$\"\n",
                            "\n83.000000000000 input network fault texts_refused begins\n",
                            "\n88.000000000000 input network fault texts_refused ends\n"}) {
    EXPECT_NE(timeline.find(input), std::string::npos) << input;
  }

  // The trace: each handler's runs as spans on its own track, and the
  // modem's commands, the texts and the call as events.
  const nlohmann::json trace = nlohmann::json::parse(contents(folder / "first" / "trace.json"));
  size_t spans = 0;
  size_t commands = 0;
  size_t calls = 0;
  std::vector<std::string> scripts;  // the main loop's, in order
  for (const auto& event : trace["traceEvents"]) {
    if (event["ph"] == "X" && event["cat"] == "interrupt") {
      ++spans;
      EXPECT_EQ(event["tid"].get<unsigned>() >= 16, true);
      EXPECT_GE(event["dur"].get<double>(), 0.0);
    }
    if (event.value("cat", "") == "script") {
      EXPECT_EQ(event["tid"], 0);
      scripts.push_back(event["args"]["bytes"].get<std::string>());
    }
    commands += event.value("cat", "") == "modem";
    calls += event.value("cat", "") == "call";
  }
  EXPECT_EQ(spans, all.interrupts(35).size() + all.interrupts(37).size() + all.interrupts(46).size() +
                       all.interrupts(49).size() + all.interrupts(76).size() + all.interrupts(21).size() +
                       all.interrupts(77).size());
  EXPECT_GT(commands, 10U);
  EXPECT_EQ(calls, 1U);
  // The world's track: the press, the refusal, the LEDs as they change.
  std::map<std::string, size_t> world;
  for (const auto& event : trace["traceEvents"]) {
    if (event.value("pid", 0) == 3 && event["ph"] != "M") {
      ++world[event["cat"].get<std::string>() + " " + event["name"].get<std::string>()];
      EXPECT_EQ(event["name"] != "press" || event["ts"] == 30e6, true) << event;
    }
  }
  EXPECT_EQ(world["button press"], 1U);
  EXPECT_EQ(world["fault texts_refused"], 1U);
  EXPECT_GT(world["led PF2 on"], 0U);  // the blue LED blinks for the call
  EXPECT_GT(world["led PF2 off"], 0U);
  // The main loop's scripts, in order: the modem's start-up, the radius
  // fetch and the alert; the call is the button handler's own.
  std::string main;
  for (const std::string& script : scripts) {
    main += script;
  }
  const size_t startUp = main.find("AT+CREG?");
  const size_t fetch = main.find("getCircle");
  const size_t alert = main.find("The target went beyond the limits.");
  EXPECT_LT(startUp, fetch) << main;
  EXPECT_LT(fetch, alert) << main;
  EXPECT_NE(alert, std::string::npos) << main;
  EXPECT_EQ(main.find("ATD"), std::string::npos) << main;

  // The waveform's modem and GPS lines, read by sigrok's UART decoder at the
  // SIM900's and the receiver's 9600 baud (1 us samples), hold the bytes of
  // the run.
  const std::string vcd = (folder / "first" / "waveform.vcd").string();
  EXPECT_EQ(sigrok_decode::decode(vcd, "UART4_TX", 9600, 1000), all.sent(4));
  EXPECT_EQ(sigrok_decode::decode(vcd, "UART4_RX", 9600, 1000), onTheLine(all, 4));
  EXPECT_EQ(sigrok_decode::decode(vcd, "UART2_RX", 9600, 1000), onTheLine(all, 2));
  // Its frames were put in time order as the records came.
  std::istringstream dump(contents(vcd));
  uint64_t lastStamp = 0;
  size_t backwards = 0;
  for (std::string line; std::getline(dump, line);) {
    if (line.size() > 1 && line[0] == '#') {
      const uint64_t stamp = std::stoull(line.substr(1));
      backwards += stamp < lastStamp;
      lastStamp = stamp;
    }
  }
  EXPECT_EQ(backwards, 0U);

  // The report: the alert of leaving the circle, the call, the handlers,
  // and every text of the caretaker's inbox.
  const std::string report = contents(folder / "first" / "report.html");
  ASSERT_FALSE(first.log.inbox().empty());
  for (const auto& text : first.log.inbox()) {
    const std::string shown = text.text.substr(0, text.text.find('\r'));
    EXPECT_NE(report.find("<td>" + shown + "\\r"), std::string::npos) << shown;
  }
  EXPECT_NE(report.find("<p id=\"alerts\">1 alert of"), std::string::npos);
  EXPECT_NE(report.find("to +905551234567</td><td>talked"), std::string::npos);
  EXPECT_NE(report.find("Int_PressControl (GPIOF)"), std::string::npos);
  EXPECT_NE(report.find("<svg id=\"track\""), std::string::npos);
  EXPECT_NE(first.summary.find("(1 alert)"), std::string::npos) << first.summary;
  // The report also shows which firmware ran, the circles of the radii it
  // took (the server's 250 m, then the texted 300 m), the text the network
  // refused, the text to the module, a chart and the console, folded.
  for (const char* shown : {"<p id=\"firmware\">Firmware: the host build on the simulated board.</p>",
                            "<svg id=\"timechart\"", "class=\"earlier-geofence\"", "then 300 m (texted at 0:5",
                            "\\r\\n</td><td>+905551234567</td><td>refused</td>",
                            "<td>+905551234567</td><td>@300$</td>", "<pre id=\"console\">UART Setup Completed\nmodem start\n",
                            "more like these"}) {
    EXPECT_NE(report.find(shown), std::string::npos) << shown;
  }
  EXPECT_EQ(report.find(" (s)"), std::string::npos) << "times are m:ss.mmm";
  // console.txt: the console's lines as text; summary.json: the record.
  const std::string console = contents(folder / "first" / "console.txt");
  EXPECT_EQ(console.rfind("UART Setup Completed\nmodem start\n", 0), 0U) << console.substr(0, 80);
  EXPECT_EQ(console.find('\r'), std::string::npos);
  EXPECT_NE(console.find("CIRCLESETSUCCES\n"), std::string::npos);
  const nlohmann::json summary = nlohmann::json::parse(contents(folder / "first" / "summary.json"));
  EXPECT_EQ(summary["firmware"]["board"], "simulated");
  EXPECT_EQ(summary["firmware"]["sha256"].get<std::string>().size(), 64U);
  ASSERT_EQ(summary["radius_changes"].size(), 2U);
  EXPECT_EQ(summary["radius_changes"][0]["metres"], 250);
  EXPECT_EQ(summary["radius_changes"][0]["how"], "fetched");
  EXPECT_EQ(summary["radius_changes"][1]["metres"], 300);
  EXPECT_EQ(summary["radius_changes"][1]["how"], "texted");
  size_t refused = 0;
  for (const auto& text : summary["texts_sent"]) {
    refused += !text["delivered"].get<bool>();
  }
  EXPECT_EQ(refused, 1U);
  EXPECT_EQ(summary["texts_sent"].size(), first.log.inbox().size() + 1);
  EXPECT_EQ(summary["alerts"].size(), 1U);
  ASSERT_EQ(summary["calls"].size(), 1U);
  EXPECT_EQ(summary["calls"][0]["direction"], "out");
  EXPECT_EQ(summary["presses"][0]["connected"], true);
  EXPECT_EQ(summary["caretaker_texts"][0]["text"], "@300$");
  std::filesystem::remove_all(folder);
}

// The scenarios shipped with the project check themselves through their
// expectations (CTest runs each on both boards); here, on both boards too,
// what a table cannot say: the order of the modem's commands, a run
// compared with its counterfactual.
class ShippedScenario : public ::testing::TestWithParam<bool> {
 protected:
  ScenarioResult run(const std::string& name) { return run(readScenario(std::string(SCENARIOS_DIR) + "/" + name)); }
  ScenarioResult run(Scenario scenario) {
    scenario.firmware = GetParam() ? "arm" : "host";
    ScenarioResult result = runScenario(scenario, runTrackerFirmware, folder_ / std::to_string(runs_++));
    EXPECT_TRUE(result.outcome.ok()) << result.outcome.failure();
    return result;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  static constexpr const char* kCaretaker = "+905551234567";
  static constexpr const char* kAlert = "The target went beyond the limits.\r";

  static size_t alerts(const ScenarioResult& result) {
    size_t count = 0;
    for (const auto& text : result.log.inbox()) {
      count += text.text == kAlert;
    }
    return count;
  }

 private:
  std::filesystem::path folder_ = temporaryFolder();
  unsigned runs_ = 0;
};

TEST_P(ShippedScenario, SosCallReachesTheCaretakerWhoEndsIt) {
  const ScenarioResult sos = run("sos-call.toml");
  ASSERT_EQ(sos.log.calls.size(), 1U);
  const auto& call = sos.log.calls[0];
  EXPECT_TRUE(call.outgoing);
  EXPECT_EQ(call.number, kCaretaker);
  EXPECT_EQ(call.outcome, "talked");
  EXPECT_GE(call.start, seconds(30));
  EXPECT_LT(call.start, seconds(32));
  // The caretaker talks for the minute and hangs up; the module never cut
  // the call, and hangs up only after the caretaker's NO CARRIER.
  EXPECT_NEAR(static_cast<double>(call.end - call.answered), 60e12, 0.1e12);
  bool hungUpAfter = false;
  for (const auto& command : sos.log.commands) {
    hungUpAfter = hungUpAfter || (command.line == "ATH" && command.at > call.end);
  }
  EXPECT_TRUE(hungUpAfter);
}

TEST_P(ShippedScenario, IncomingCallIsAnsweredByTheButton) {
  const ScenarioResult incoming = run("incoming-call.toml");
  ASSERT_EQ(incoming.log.calls.size(), 1U);
  const auto& call = incoming.log.calls[0];
  EXPECT_FALSE(call.outgoing);
  EXPECT_EQ(call.outcome, "talked");
  // Answered after the press at 36 s, not before and not by ringing out.
  EXPECT_GE(call.answered, seconds(36));
  EXPECT_LT(call.answered, seconds(38));
}

TEST_P(ShippedScenario, RadiusSetBySmsWidensTheCircle) {
  const ScenarioResult widened = run("radius-by-sms.toml");
  ASSERT_EQ(widened.log.received.size(), 1U);
  EXPECT_NE(widened.outcome.sent(0).find("CIRCLESETSUCCES\n"), std::string::npos);
  EXPECT_EQ(alerts(widened), 0U);
  // Without the text the same walk leaves the server's 250 m circle.
  Scenario unchanged = readScenario(std::string(SCENARIOS_DIR) + "/radius-by-sms.toml");
  unchanged.phone.texts.clear();
  EXPECT_EQ(alerts(run(unchanged)), 1U);
}

INSTANTIATE_TEST_SUITE_P(Firmware, ShippedScenario, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ArmImage" : "HostBuild"; });

// Expectations that fail: status 1, each named by its line with what the
// run showed instead, in the summary and in the report.
TEST(TrackerRun, AFailedExpectationSaysWhatWasSeenAndFailsTheRun) {
  const std::filesystem::path folder = temporaryFolder();
  std::string world = contents(std::string(SCENARIOS_DIR) + "/sos-call.toml");
  world.resize(world.find("\n[[expect]]"));
  std::ofstream(folder / "failing.toml") << world << R"(
[[expect]]
kind = "no_fault"
[[expect]]
kind = "call"
direction = "in"
[[expect]]
kind = "text"
to = "caretaker"
matches = 'beyond'
within = [60, 120]
[[expect]]
kind = "http"
path = "/postData"
[[expect]]
kind = "stack"
below = 100
[[expect]]
kind = "lost_bytes"
line = "UART2"
at_most = 0
[[expect]]
kind = "hold"
handler = "GPIOF"
at_most_ms = 1
[[expect]]
kind = "console"
matches = 'nothing like this'
)";
  const size_t first = std::count(world.begin(), world.end(), '\n') + 2;
  const auto at = [&](size_t table) { return "line " + std::to_string(first + table) + ": "; };
  for (const char* board : {"host", "arm"}) {
    SCOPED_TRACE(board);
    const std::filesystem::path out = folder / board;
    const auto [status, output] =
        trackerRun("--firmware " + std::string(board) + " --scenario " + (folder / "failing.toml").string() +
                   " --out " + out.string() + " --outputs report.html,summary.json");
    EXPECT_EQ(status, 1) << output;
    const bool arm = std::string(board) == "arm";
    for (const std::string& line : {
             "  passed  " + at(0) + "no fault: none\n",
             "  FAILED  " + at(2) + "a call to the module: 0 seen; there were 30.",
             "  FAILED  " + at(5) + "a text to the caretaker matching /beyond/ from 60 s to 120 s: 0 seen; there "
                                    "were 113.",
             "  FAILED  " + at(10) + "a request for /postData: 0 seen; there were 18.",
             arm ? "  FAILED  " + at(13) + "the deepest stack below 100 bytes: "
                 : "  not measured  " + at(13) + "the deepest stack below 100 bytes: not measured",
             "  FAILED  " + at(16) + "at most 0 bytes lost on UART2: ",
             "  FAILED  " + at(20) + "Int_PressControl (GPIOF) holds the processor at most 1 ms: 7",
             "  FAILED  " + at(24) + "a console line matching /nothing like this/: 0 seen; there were \"UART Setup "
                                     "Completed\"; \"modem start\"; ",
         }) {
      EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
    EXPECT_NE(output.find("41.015137,28.979530,"), std::string::npos);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
      written.push_back(entry.path().filename().string());
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"report.html", "summary.json"}));
    EXPECT_NE(output.find("written: summary.json report.html in "), std::string::npos) << output;
    const std::string report = contents(out / "report.html");
    size_t failed = 0;
    for (size_t row = report.find("<tr class=\"failed\">"); row != std::string::npos;
         row = report.find("<tr class=\"failed\">", row + 1)) {
      ++failed;
    }
    EXPECT_EQ(failed, arm ? 7U : 6U);
    EXPECT_NE(report.find("<tr class=\"passed\"><td>passed</td><td>" + at(0) + "no fault: none</td></tr>"),
              std::string::npos);
  }
  std::filesystem::remove_all(folder);
}

// The world for a real board, on pseudo-terminals, and the ARM tracker
// image on their far side as the board, both in real time (eight times as
// fast): the press reaches the caretaker's phone as a call, the position
// text her inbox, and her text's radius the firmware.
TEST(TrackerWorld, ABoardOnTheWiresMeetsTheWorld) {
  const std::filesystem::path folder = temporaryFolder();
  std::ofstream(folder / "world.toml") << R"([run]
seconds = 120
[wearer]
walk = [[41.015137, 28.979530]]
first_fix = 5
[phone]
texts = [{ at = 60, text = "New radius @400$" }]
hang_up_after = 10
[modem]
registration = [5, 10]
[[expect]]
kind = "call"
direction = "out"
answered = true
[[expect]]
kind = "text"
to = "caretaker"
matches = '^41\.01'
[[expect]]
kind = "text"
to = "module"
matches = '@400\$'
)";
  RunningRunner world(std::string(TRACKER_WORLD_PATH) + " --scenario " + (folder / "world.toml").string() + " --out " +
                      (folder / "out").string() + " --modem pty --gps pty --realtime 8 2>&1");
  ASSERT_TRUE(world.readUntil("UART6 is on ") && world.readUntil("\n", world.printed.find("UART6 is on ")))
      << world.printed;
  const auto path = [&](const std::string& announced) {
    const size_t at = world.printed.find(announced) + announced.size();
    return world.printed.substr(at, world.printed.find('\n', at) - at);
  };
  const auto [status, board] = trackerRun("--image " TRACKER_IMAGE_PATH " --uart 4=" + path("UART1 is on ") +
                                          " --uart 2=" + path("UART6 is on ") +
                                          " --realtime 8 --seconds 110 --press 70");
  EXPECT_EQ(status, 0) << board;
  EXPECT_NE(board.find("CIRCLESETSUCCES"), std::string::npos) << board;
  // The world's run ends at its own end, a little after the board's.
  ASSERT_TRUE(world.readUntil("written: ")) << world.printed;
  world.readUntil("\x01");  // to its end
  for (const char* passed : {"  passed  line 11: ", "  passed  line 15: ", "  passed  line 19: "}) {
    EXPECT_NE(world.printed.find(passed), std::string::npos) << passed << "\n" << world.printed;
  }
  EXPECT_NE(world.printed.find("of the firmware on the real board"), std::string::npos) << world.printed;
  std::filesystem::remove_all(folder);
}

// The keyboard through a real terminal (tmux's): b presses the button and
// the module calls the caretaker; t and a line text the module; q ends the
// run with its outputs. Every wait is bounded.
TEST(TrackerRun, TheKeyboardDrivesARunInATerminal) {
  const std::filesystem::path folder = temporaryFolder();
  std::ofstream(folder / "keys.toml") << "[run]\nseconds = 600\nfirmware = \"host\"\n[wearer]\nwalk = "
                                         "[[41.015137, 28.979530]]\nfirst_fix = 5\n[modem]\nregistration = [5, 10]\n";
  const std::string tmux = "tmux -L tracker-run-test-" + std::to_string(getpid()) + " ";
  const auto screen = [&] { return runCommand(tmux + "capture-pane -p -t keys").second; };
  // Up to 20 s for the screen to show it.
  const auto awaitScreen = [&](const std::string& wanted) {
    for (int attempt = 0; attempt < 200; ++attempt) {
      if (screen().find(wanted) != std::string::npos) {
        return true;
      }
      usleep(100000);
    }
    return false;
  };
  ASSERT_EQ(runCommand(tmux + "new-session -d -s keys -x 200 -y 20 '" + TRACKER_RUN_PATH +
                       " --interactive --realtime 8 --scenario " + (folder / "keys.toml").string() + " --out " +
                       (folder / "out").string() + "; echo exit=$?; sleep 60'")
                .first,
            0);
  EXPECT_TRUE(awaitScreen("keys: b presses the button")) << screen();
  EXPECT_TRUE(awaitScreen("call: idle")) << screen();
  // The modem registers 5 to 10 virtual s in, a second or so here.
  usleep(2000000);
  runCommand(tmux + "send-keys -t keys b");
  EXPECT_TRUE(awaitScreen("call: talking")) << screen();
  runCommand(tmux + "send-keys -t keys t");
  runCommand(tmux + "send-keys -t keys -l 'HELLO'");
  EXPECT_TRUE(awaitScreen("text to send: HELLO_")) << screen();
  runCommand(tmux + "send-keys -t keys Enter");
  usleep(1500000);  // the text's delivery, a few virtual seconds
  runCommand(tmux + "send-keys -t keys q");
  EXPECT_TRUE(awaitScreen("exit=0")) << screen();
  runCommand(tmux + "kill-server");
  const nlohmann::json summary = nlohmann::json::parse(contents(folder / "out" / "summary.json"));
  ASSERT_FALSE(summary["calls"].empty()) << summary.dump(1);
  EXPECT_EQ(summary["calls"][0]["direction"], "out") << summary.dump(1);
  const std::string timeline = contents(folder / "out" / "timeline.txt");
  EXPECT_NE(timeline.find(" input button pressed (keyboard)\n"), std::string::npos);
  EXPECT_NE(timeline.find(" UART4 peer sms-received +905551234567 HELLO\n"), std::string::npos);
  EXPECT_NE(timeline.find(" input run ended (keyboard)\n"), std::string::npos);
  std::filesystem::remove_all(folder);
}

// The ARM image built with a server key gets its report stored by a server
// that asks the key; the image built without it is refused.
TEST(TrackerRun, AServerThatAsksTheTrackersKeyStoresOnlyAKeyedImagesReports) {
  ASSERT_TRUE(std::filesystem::exists(KEYED_TRACKER_IMAGE_PATH)) << "scripts/test.sh builds it";
  const std::filesystem::path folder = temporaryFolder();
  const std::string world = R"(
[wearer]
walk = [[41.015137, 28.979530]]
first_fix = 5
[modem]
registration = [5, 10]
[server]
kind = "real"
tracker_key = "the bench's tracker key"
)";
  for (const auto& [image, status, stored] :
       {std::tuple{std::string(KEYED_TRACKER_IMAGE_PATH), 200, "at_least = 1"},
        std::tuple{std::string(TRACKER_IMAGE_PATH), 403, "count = 0"}}) {
    SCOPED_TRACE(image);
    std::ofstream(folder / "keyed.toml") << "[run]\nseconds = 320\nfirmware = \"" << image << "\"\n"
                                         << world << "[[expect]]\nkind = \"http\"\npath = \"/postData\"\nstatus = "
                                         << status << "\n[[expect]]\nkind = \"stored_reports\"\n" << stored << "\n";
    const auto [exit, output] = trackerRun("--scenario " + (folder / "keyed.toml").string() + " --out " +
                                           (folder / "out").string() + " --outputs summary.json");
    EXPECT_EQ(exit, 0) << output;
  }
  std::filesystem::remove_all(folder);
}

// The timeline is on the disk before the run is over: a run of 360
// virtual seconds paced at 50 times real time (about 7 s) has written
// megabytes of it by its 250th second, when its first block of records
// comes over, and half a megabyte more by its end. Every wait is bounded.
TEST(TrackerRun, ARunWritesItsTimelineAsItGoes) {
  const std::filesystem::path folder = temporaryFolder();
  const std::filesystem::path timeline = folder / "timeline.txt";
  RunningRunner runner(std::string(OPTIMISED_TRACKER_RUN_PATH) + " --scenario " SCENARIOS_DIR
                       "/afternoon-walk.toml --outputs timeline.txt,summary.json --realtime 50 --out " +
                       folder.string() + " 2>&1");
  ASSERT_NE(runner.pipe, nullptr);
  uintmax_t firstSeen = 0;  // the timeline's size when it first had any
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fileno(runner.pipe), POLLIN, 0};
    if (poll(&ready, 1, 50) > 0) {
      char bytes[4096];
      const ssize_t count = read(fileno(runner.pipe), bytes, sizeof bytes);
      ended = count <= 0;
      runner.printed.append(bytes, static_cast<size_t>(std::max<ssize_t>(count, 0)));
    }
    std::error_code missing;
    const uintmax_t size = std::filesystem::file_size(timeline, missing);
    if (!ended && firstSeen == 0 && !missing) {
      firstSeen = size;
    }
  }
  ASSERT_TRUE(ended) << runner.printed;
  EXPECT_EQ(WEXITSTATUS(pclose(std::exchange(runner.pipe, nullptr))), 0) << runner.printed;
  EXPECT_GE(firstSeen, uintmax_t{1} << 20);
  EXPECT_GT(std::filesystem::file_size(timeline), firstSeen + (uintmax_t{1} << 19));
  EXPECT_NE(contents(timeline).find(" end\n"), std::string::npos);
  std::filesystem::remove_all(folder);
}

// The optimised runner users run writes what the sanitizer build writes,
// byte for byte, for the host firmware and for the ARM image.
TEST(TrackerRun, TheOptimisedBuildWritesTheSameOutputs) {
  ASSERT_TRUE(std::filesystem::exists(OPTIMISED_TRACKER_RUN_PATH))
      << "cmake --build --preset bench --target tracker_run builds it (scripts/test.sh does)";
  const std::filesystem::path folder = temporaryFolder();
  const std::string scenario = std::string(SCENARIOS_DIR) + "/afternoon-walk.toml";
  for (const std::string image : {"", " --image " TRACKER_IMAGE_PATH}) {
    const std::string common = "--scenario " + scenario + image + " --out ";
    ASSERT_EQ(trackerRun(common + (folder / "checked").string()).first, 0) << image;
    // The bench's server keeps the run's virtual time: the report stored
    // is received when the modem posted it.
    const nlohmann::json run = nlohmann::json::parse(contents(folder / "checked" / "summary.json"));
    ASSERT_EQ(run["stored_reports"].size(), 1U);
    ASSERT_EQ(run["http"][1]["method"], "POST");
    EXPECT_NEAR(run["stored_reports"][0]["received"].get<double>(), run["http"][1]["at"].get<double>(), 0.001);
    ASSERT_EQ(trackerRun(common + (folder / "optimised").string(), OPTIMISED_TRACKER_RUN_PATH).first, 0) << image;
    for (const char* name : kOutputFiles) {
      std::string one = contents(folder / "checked" / name);
      std::string other = contents(folder / "optimised" / name);
      EXPECT_GT(one.size(), 1000U) << name << image;
      if (std::string_view(name) == "summary.json") {
        // The host firmware is each runner itself: its hash is the build's.
        nlohmann::json first = nlohmann::json::parse(one), second = nlohmann::json::parse(other);
        EXPECT_EQ(first["firmware"]["sha256"] == second["firmware"]["sha256"], !image.empty());
        first.erase("firmware");
        second.erase("firmware");
        one = first.dump();
        other = second.dump();
      }
      EXPECT_TRUE(one == other) << name << image << " differs between the two builds";
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace

