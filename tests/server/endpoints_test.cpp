// The report server's endpoints through a real HTTP client on the loopback.
#include <gtest/gtest.h>

#include <regex>

#include <nlohmann/json.hpp>

#include "tests/server/server_fixture.h"

namespace {

using namespace server_test;

const std::string kRecord = "41.015137,28.979530,72\r\n";

nlohmann::json reports(RunningServer& server) {
  auto client = server.client();
  const auto answer = client.Get("/api/reports", server.bearer());
  EXPECT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  return nlohmann::json::parse(answer->body)["reports"];
}

TEST(Endpoints, AGoodRecordIsStoredWithItsSenderAndTime) {
  RunningServer server;
  auto client = server.client();
  const auto posted = client.Post("/postData", kRecord, "text/plain");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200);
  const auto blank = client.Post("/postData", "         ,         ,40\r\n", "text/plain; charset=us-ascii");
  ASSERT_TRUE(blank);
  EXPECT_EQ(blank->status, 200);
  const auto stored = reports(server);
  ASSERT_EQ(stored.size(), 2U);
  EXPECT_DOUBLE_EQ(stored[0]["latitude"].get<double>(), 41.015137);
  EXPECT_DOUBLE_EQ(stored[0]["longitude"].get<double>(), 28.979530);
  EXPECT_EQ(stored[0]["pulse"], 72);
  EXPECT_EQ(stored[0]["sender"], "127.0.0.1");
  EXPECT_TRUE(stored[1]["latitude"].is_null());
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  EXPECT_NEAR(static_cast<double>(stored[0]["received"].get<int64_t>()), static_cast<double>(now), 60000.0);
  // A real store takes no time from a client.
  ASSERT_TRUE(client.Post("/postData", {{"X-Bench-Time", "5"}}, kRecord, "text/plain"));
  EXPECT_GT(reports(server)[2]["received"].get<int64_t>(), 1000000);
  // Since a time: only what came after it.
  const int64_t first = stored[0]["received"].get<int64_t>();
  const auto since = client.Get("/api/reports?since=" + std::to_string(first - 1) + "&limit=1", server.bearer());
  ASSERT_TRUE(since);
  EXPECT_EQ(nlohmann::json::parse(since->body)["reports"].size(), 1U);
}

// A bench's store keeps the times the bench gives, and its page shows them
// as time into the run.
TEST(Endpoints, ABenchsStoreKeepsTheBenchsVirtualTime) {
  RunningServer server;
  ASSERT_TRUE(server.store().setBenchClock());
  auto client = server.client();
  const auto untimed = client.Post("/postData", kRecord, "text/plain");
  ASSERT_TRUE(untimed);
  EXPECT_EQ(untimed->status, 400);
  for (const char* wrong : {"-5", "soon", "1e3"}) {
    const auto refused = client.Post("/postData", {{"X-Bench-Time", wrong}}, kRecord, "text/plain");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << wrong;
  }
  const auto timed = client.Post("/postData", {{"X-Bench-Time", "3904145"}}, kRecord, "text/plain");
  ASSERT_TRUE(timed);
  EXPECT_EQ(timed->status, 200);
  const auto stored = reports(server);
  ASSERT_EQ(stored.size(), 1U);
  EXPECT_EQ(stored[0]["received"], 3904145);
  const auto page = client.Get("/", server.bearer());
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("1:05:04.145 into the run"), std::string::npos);
  EXPECT_NE(page->body.find("id=\"bench-clock\""), std::string::npos);
}

TEST(Endpoints, EveryBadBodyIsRefusedAndNothingStored) {
  RunningServer server;
  auto client = server.client();
  struct Case {
    std::string body;
    std::string type;
    int status;
  };
  for (const Case& bad : std::vector<Case>{
           {"41.015137,28.979530,72\n", "text/plain", 400},
           {"91.000000,28.979530,72\r\n", "text/plain", 400},
           {"41.015137,28.979530,xx\r\n", "text/plain", 400},
           {"", "text/plain", 400},
           {kRecord, "application/json", 415},
           {kRecord, "application/x-www-form-urlencoded", 415},
           {std::string(5000, 'x'), "text/plain", 413},
       }) {
    const auto answer = client.Post("/postData", bad.body, bad.type.c_str());
    ASSERT_TRUE(answer) << bad.body.substr(0, 30);
    EXPECT_EQ(answer->status, bad.status) << bad.body.substr(0, 30) << " " << bad.type;
  }
  EXPECT_EQ(server.store().count(), 0);
  EXPECT_TRUE(reports(server).empty());
}

TEST(Endpoints, TheRadiusRoundTrip) {
  RunningServer server;
  auto client = server.client();
  EXPECT_EQ(client.Get("/getCircle")->body, "@250$");
  const auto set = client.Put("/api/settings", server.bearer(), R"({"radius": 1234})", "application/json");
  ASSERT_TRUE(set);
  EXPECT_EQ(set->status, 200);
  EXPECT_EQ(client.Get("/getCircle")->body, "@1234$");
  EXPECT_EQ(nlohmann::json::parse(client.Get("/api/settings", server.bearer())->body)["radius"], 1234);
  for (const std::string body : {R"({"radius": 0})", R"({"radius": 10000})", R"({"radius": 4294967546})",
                                 R"({"radius": "250"})", R"({"radius": 2.5})", "[]", "radius=5", ""}) {
    const auto refused = client.Put("/api/settings", server.bearer(), body, "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << body;
  }
  EXPECT_EQ(client.Get("/getCircle")->body, "@1234$");
  // The answer is the frame the firmware reads: '@', 1 to 4 digits, '$'.
  ASSERT_TRUE(client.Put("/api/settings", server.bearer(), R"({"radius": 9999})", "application/json"));
  EXPECT_EQ(client.Get("/getCircle")->body, "@9999$");
  ASSERT_TRUE(client.Put("/api/settings", server.bearer(), R"({"radius": 1})", "application/json"));
  EXPECT_EQ(client.Get("/getCircle")->body, "@1$");
  // The page's form: a radius that would wrap to 1 as an int is refused.
  for (const char* form : {"radius=4294967297", "radius=-4294967295", "radius=0", "radius=10000"}) {
    const auto refused = client.Post("/settings", server.bearer(), form, "application/x-www-form-urlencoded");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << form;
  }
  ASSERT_EQ(client.Post("/settings", server.bearer(), "radius=300", "application/x-www-form-urlencoded")->status, 303);
  EXPECT_EQ(client.Get("/getCircle")->body, "@300$");
}

// The centre the page draws the circle around: the caretaker's, or the
// first position shown, and the page says which.
TEST(Endpoints, TheCaretakerSetsTheCentreThePageDrawsAround) {
  RunningServer server;
  auto client = server.client();
  ASSERT_EQ(client.Post("/postData", kRecord, "text/plain")->status, 200);
  const auto page = [&] { return client.Get("/", server.bearer())->body; };
  EXPECT_NE(page().find("drawn around the first position shown"), std::string::npos);
  for (const std::string form : {"latitude=91&longitude=29", "latitude=41&longitude=", "latitude=4e1&longitude=29",
                                 "latitude=abc&longitude=29", "latitude=nan&longitude=29"}) {
    const auto refused = client.Post("/centre", server.bearer(), form, "application/x-www-form-urlencoded");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << form;
  }
  const auto set = client.Post("/centre", server.bearer(), "latitude=41.01&longitude=28.979530",
                               "application/x-www-form-urlencoded");
  ASSERT_TRUE(set);
  EXPECT_EQ(set->status, 303);
  const std::string centred = page();
  EXPECT_NE(centred.find("drawn around the centre set here, 41.010000, 28.979530"), std::string::npos);
  // The report, 570 m north of it, above the circle's centre (north up).
  const size_t path = centred.find("<polyline id=\"path\"");
  ASSERT_NE(path, std::string::npos);
  const size_t points = centred.find("points=\"", path) + 8;
  const double y = std::stod(centred.substr(centred.find(',', points) + 1));
  EXPECT_LT(y, 300.0);
  ASSERT_EQ(client.Post("/centre", server.bearer(), "latitude=&longitude=", "application/x-www-form-urlencoded")->status,
            303);
  EXPECT_NE(page().find("drawn around the first position shown"), std::string::npos);
}

TEST(Endpoints, EveryCaretakerPathNeedsTheSecret) {
  RunningServer server;
  auto client = server.client();
  ASSERT_EQ(client.Post("/postData", kRecord, "text/plain")->status, 200);
  const std::vector<httplib::Headers> strangers = {
      {},
      {{"Authorization", "Bearer wrong"}},
      {{"Authorization", std::string("Bearer ") + kSecret + "x"}},
      {{"Authorization", std::string("Basic ") + kSecret}},
      {{"Cookie", "session=0123456789abcdef"}},
  };
  for (const auto& headers : strangers) {
    EXPECT_EQ(client.Get("/", headers)->status, 303);
    EXPECT_EQ(client.Get("/", headers)->get_header_value("Location"), "/login");
    EXPECT_EQ(client.Get("/api/reports", headers)->status, 401);
    EXPECT_EQ(client.Get("/api/settings", headers)->status, 401);
    EXPECT_EQ(client.Put("/api/settings", headers, R"({"radius": 5})", "application/json")->status, 401);
    EXPECT_EQ(client.Post("/settings", headers, "radius=5", "application/x-www-form-urlencoded")->status, 401);
    EXPECT_EQ(client.Post("/centre", headers, "latitude=1&longitude=1", "application/x-www-form-urlencoded")->status, 401);
  }
  EXPECT_EQ(client.Get("/getCircle")->body, "@250$");
  // The page with the secret shows the report.
  const auto page = client.Get("/", server.bearer());
  ASSERT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("41.015137, 28.979530"), std::string::npos);
}

TEST(Endpoints, ABrowserSignsInAndSetsTheRadiusWithItsSession) {
  RunningServer server;
  auto client = server.client();
  const auto refused = client.Post("/login", "secret=guess", "application/x-www-form-urlencoded");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_TRUE(refused->get_header_value("Set-Cookie").empty());
  const auto login = client.Post("/login", "secret=correct+horse+battery+staple", "application/x-www-form-urlencoded");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 303);
  const std::string cookie = login->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  const httplib::Headers session = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
  const auto page = client.Get("/", session);
  ASSERT_EQ(page->status, 200);
  // Each of the page's forms carries the session's token, and a post needs it.
  const std::regex tokenField("name=\"csrf\" value=\"([0-9a-f]{64})\"");
  std::smatch token;
  ASSERT_TRUE(std::regex_search(page->body, token, tokenField)) << page->body;
  const std::string csrf = "&csrf=" + token[1].str();
  EXPECT_EQ(client.Post("/settings", session, "radius=777", "application/x-www-form-urlencoded")->status, 403);
  EXPECT_EQ(client.Post("/settings", session, "radius=777&csrf=" + std::string(64, '0'),
                        "application/x-www-form-urlencoded")->status, 403);
  EXPECT_EQ(client.Get("/getCircle")->body, "@250$");
  const auto set = client.Post("/settings", session, "radius=777" + csrf, "application/x-www-form-urlencoded");
  ASSERT_TRUE(set);
  EXPECT_EQ(set->status, 303);
  EXPECT_EQ(client.Get("/getCircle")->body, "@777$");
  EXPECT_EQ(client.Post("/settings", session, "radius=77777" + csrf, "application/x-www-form-urlencoded")->status,
            400);
  // Signed out, the session is gone.
  EXPECT_EQ(client.Post("/logout", session, csrf.substr(1), "application/x-www-form-urlencoded")->status, 303);
  EXPECT_EQ(client.Get("/", session)->status, 303);
}

}  // namespace
