// The whole path of a report: the tracker firmware on the simulated board
// posts its record and fetches its radius, and the report server on the
// loopback stores the one and answers the other. Between the two stands, for
// now, an HTTP client that sends the firmware's exact bytes where the modem
// would.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "apps/tracker/duties.h"
#include "apps/tracker/entry.h"
#include "sim/peers/gps_receiver.h"
#include "sim/sim.h"
#include "tests/apps/tracker_loop.h"
#include "tests/tracker/tracker_bench.h"
#include "tests/server/server_fixture.h"
#include "tracker/state.h"

namespace {

using namespace sim;

// What the firmware put after the last such command, up to its line end.
std::string parameter(const std::string& sent, const std::string& command) {
  const size_t at = sent.rfind(command);
  if (at == std::string::npos) {
    return {};
  }
  const size_t start = at + command.size();
  return sent.substr(start, sent.find("\r\n", start) - start);
}

TEST(ReportPath, TheFirmwarePostsToTheServerAndTakesItsRadius) {
  server_test::RunningServer server;
  auto client = server.client();
  ASSERT_EQ(client.Put("/api/settings", server.bearer(), R"({"radius": 321})", "application/json")->status, 200);
  const std::string circle = client.Get("/getCircle")->body;
  ASSERT_EQ(circle, "@321$");

  // The modem hands the server's answer to the firmware as AT+HTTPREAD does.
  Bench bench;
  bench.uart(4).reply("AT+HTTPREAD\r\n",
                      "\r\n+HTTPREAD:" + std::to_string(circle.size()) + "\r\n" + circle + "\r\nOK\r\n",
                      milliseconds(200));
  tracker_test::httpModem(bench, seconds(2));  // and OK, DOWNLOAD, the action's result to the rest
  peers::GpsReceiver gps;
  gps.fixes({{-33.868820, 151.209290}});
  gps.attach(bench, seconds(320));
  const auto run = bench.run(
      tracker_test::trackerNoting({seconds(305)},
                                  [] { return std::to_string(tracker::circleSize) + tracker::circleFlag; }),
      seconds(320));
  ASSERT_TRUE(run.ok()) << run.failure();
  ASSERT_EQ(run.notes().size(), 1U);
  EXPECT_EQ(run.notes()[0].second, "321y");

  // The POST at 300 s: its URL, content type and the 24 bytes of its body.
  const std::string sent = run.sent(4);
  const std::string url = parameter(sent, "AT+HTTPPARA=\"URL\",\"");
  ASSERT_NE(url.find(":5000/postData\""), std::string::npos) << url;
  const std::string type = parameter(sent, "AT+HTTPPARA=\"CONTENT\",\"");
  EXPECT_EQ(type, "text/plain\"");
  const size_t data = sent.find("AT+HTTPDATA=24,10000\r");
  ASSERT_NE(data, std::string::npos);
  const std::string body = sent.substr(data + 21, 24);
  EXPECT_EQ(body.substr(22), "\r\n");

  const auto posted = client.Post("/postData", body, type.substr(0, type.size() - 1).c_str());
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200) << posted->body;
  const auto answer = client.Get("/api/reports", server.bearer());
  ASSERT_TRUE(answer);
  const nlohmann::json stored = nlohmann::json::parse(answer->body)["reports"];
  ASSERT_EQ(stored.size(), 1U);
  EXPECT_DOUBLE_EQ(stored[0]["latitude"].get<double>(), -33.86882);
  EXPECT_DOUBLE_EQ(stored[0]["longitude"].get<double>(), 151.20929);
  EXPECT_GE(stored[0]["pulse"].get<int>(), 10);
}

}  // namespace
