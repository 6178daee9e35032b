// Scenario files: refused whole with one error naming the line and the
// field; run, they write a timeline, a waveform, a trace and a report, the
// same bytes every time.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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
            "bad.toml:3: run.firmware: \"host\", \"arm\" or the path of an ELF image, from the scenario's folder: ARM is none");
  EXPECT_EQ(errorOf("[run]\nseconds = 60\ngdb = 3333\n"),
            "bad.toml:3: run.gdb: a debugger needs the emulated board: firmware = \"arm\" or an ELF image");
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
  EXPECT_EQ(errorOf("[run]\nseconds = 10\n\"\\u001b[2J\" = 1\n"), "bad.toml:3: run.<1B>[2J: no such field");
  const std::string broken = errorOf("[run]\nseconds = 1\x07\n");
  EXPECT_EQ(broken.rfind("bad.toml:2: ", 0), 0U) << broken;
  for (char character : broken) {
    EXPECT_TRUE(character >= 0x20 && character < 0x7F) << broken;
  }
}

// tracker_run with these arguments: its exit status, and what it printed
// on stdout and stderr.
std::pair<int, std::string> trackerRun(const std::string& arguments, const std::string& runner = TRACKER_RUN_PATH) {
  const std::string command = runner + " " + arguments + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char line[256];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
    output += line;
  }
  const int status = pipe == nullptr ? -1 : pclose(pipe);
  return {WEXITSTATUS(status), output};
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
                           "--timeline", "--scenario", "--out", "--gdb", "--gdb-no-wait"}) {
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

TEST(ScenarioRun, WritesItsFourOutputsTheSameEveryTime) {
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
[modem]
registration = [5, 5]
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
  for (const char* name : {"timeline.txt", "waveform.vcd", "trace.json", "report.html"}) {
    const std::string output = contents(folder / "first" / name);
    EXPECT_GT(output.size(), 100U) << name;
    EXPECT_EQ(output, contents(folder / "second" / name)) << name;
  }
  EXPECT_EQ(contents(folder / "first" / "timeline.txt"), first.outcome.text());

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
  EXPECT_EQ(spans, first.outcome.interrupts(35).size() + first.outcome.interrupts(37).size() +
                       first.outcome.interrupts(46).size() + first.outcome.interrupts(49).size() +
                       first.outcome.interrupts(76).size() + first.outcome.interrupts(21).size() +
                       first.outcome.interrupts(77).size());
  EXPECT_GT(commands, 10U);
  EXPECT_EQ(calls, 1U);
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
  EXPECT_EQ(sigrok_decode::decode(vcd, "UART4_TX", 9600, 1000), first.outcome.sent(4));
  EXPECT_EQ(sigrok_decode::decode(vcd, "UART4_RX", 9600, 1000), onTheLine(first.outcome, 4));
  EXPECT_EQ(sigrok_decode::decode(vcd, "UART2_RX", 9600, 1000), onTheLine(first.outcome, 2));

  // The report: the alert of leaving the circle, the call, the handlers,
  // and every text of the caretaker's inbox.
  const std::string report = contents(folder / "first" / "report.html");
  ASSERT_FALSE(first.log.inbox().empty());
  for (const auto& text : first.log.inbox()) {
    const std::string shown = text.text.substr(0, text.text.find('\r'));
    EXPECT_NE(report.find("<td>" + shown + "&lt;0D&gt;"), std::string::npos) << shown;
  }
  EXPECT_NE(report.find("<p id=\"alerts\">1 alert(s)"), std::string::npos);
  EXPECT_NE(report.find("to +905551234567</td><td>talked"), std::string::npos);
  EXPECT_NE(report.find("GPIOF button"), std::string::npos);
  EXPECT_NE(report.find("<svg id=\"track\""), std::string::npos);
  EXPECT_NE(first.summary.find("1 alerts"), std::string::npos) << first.summary;
  std::filesystem::remove_all(folder);
}

// The scenarios shipped with the project, each run on the host build and
// on the ARM image, with its key facts checked.
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

TEST_P(ShippedScenario, AfternoonWalkLeavesTheCircleTwiceAndTheServerKeepsTheReport) {
  const ScenarioResult walk = run("afternoon-walk.toml");
  // Three exits, each alerted: out of the 250 m circle at about 55 s and
  // 255 s (the 400 m texted at 250 s reaches the module a few seconds
  // later), and out of the 400 m one at about 285 s, as the outage ends: that
  // alert goes once the modem has registered again.
  EXPECT_EQ(alerts(walk), 3U);
  Time lastAlert = 0;
  for (const auto& text : walk.log.inbox()) {
    lastAlert = text.text == kAlert ? text.at : lastAlert;
  }
  EXPECT_GT(lastAlert, seconds(285));
  ASSERT_EQ(walk.log.calls.size(), 2U);
  EXPECT_TRUE(walk.log.calls[0].outgoing);
  EXPECT_FALSE(walk.log.calls[1].outgoing);
  EXPECT_EQ(walk.log.calls[0].outcome, "talked");
  EXPECT_EQ(walk.log.calls[1].outcome, "talked");
  ASSERT_EQ(walk.log.http.size(), 2U);
  EXPECT_EQ(walk.log.http[0].request.method, "GET");
  EXPECT_EQ(walk.log.http[1].request.method, "POST");
  EXPECT_EQ(walk.log.http[1].response.status, 200);
  // The real server stored the one report, at a point of the walk.
  ASSERT_EQ(walk.stored.size(), 1U);
  ASSERT_TRUE(walk.stored[0].latitude.has_value());
  EXPECT_GT(*walk.stored[0].latitude, 41.0150);
  EXPECT_LT(*walk.stored[0].latitude, 41.0197);
  EXPECT_NEAR(*walk.stored[0].longitude, 28.97953, 0.0001);
  EXPECT_NE(walk.summary.find("1 reports stored"), std::string::npos) << walk.summary;
}

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

TEST_P(ShippedScenario, NetworkOutageLosesWhatFellInItAndTheModuleGoesOn) {
  const ScenarioResult outage = run("network-outage.toml");
  size_t during = 0;
  size_t after = 0;
  for (const auto& text : outage.log.inbox()) {
    during += text.at >= seconds(80) && text.at < seconds(100);
    after += text.at >= seconds(100);
  }
  EXPECT_EQ(during, 0U);
  EXPECT_GE(after, 5U);
  ASSERT_EQ(outage.log.http.size(), 2U);
  EXPECT_EQ(outage.log.http[1].request.method, "POST");
  EXPECT_EQ(outage.log.http[1].response.status, 601);
  EXPECT_TRUE(outage.stored.empty());
}

INSTANTIATE_TEST_SUITE_P(Firmware, ShippedScenario, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ArmImage" : "HostBuild"; });

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
    ASSERT_EQ(trackerRun(common + (folder / "optimised").string(), OPTIMISED_TRACKER_RUN_PATH).first, 0) << image;
    for (const char* name : {"timeline.txt", "waveform.vcd", "trace.json", "report.html"}) {
      std::ifstream checked(folder / "checked" / name), optimised(folder / "optimised" / name);
      const std::string one((std::istreambuf_iterator<char>(checked)), std::istreambuf_iterator<char>());
      const std::string other((std::istreambuf_iterator<char>(optimised)), std::istreambuf_iterator<char>());
      EXPECT_GT(one.size(), 1000U) << name << image;
      EXPECT_TRUE(one == other) << name << image << " differs between the two builds";
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace

