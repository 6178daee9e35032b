// Acknowledged means durable: the server killed in the middle of concurrent
// posts keeps every report it answered 200 to, and nothing half-written.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/server/server_fixture.h"
#include "tests/server/server_process.h"

namespace {

using namespace server_test;

// Client c's n-th report: pulse 10 + c, latitude n / 10^6.
std::string record(int client, int sequence) {
  char text[400];
  std::snprintf(text, sizeof text, "%-9.6f,%-9.4f,%02d\r\n", sequence / 1e6, 0.0, 10 + client);
  return text;
}

TEST(Durability, EveryAcknowledgedReportSurvivesAKill) {
  TemporaryFolder folder;
  const auto secret = folder.path() / "secret";
  writePrivateFile(secret, std::string(kSecret) + "\n");
  const auto data = folder.path() / "data";

  constexpr int kClients = 8;
  std::mutex mutex;
  std::set<std::pair<int, int>> acknowledged;
  std::set<std::pair<int, int>> attempted;
  {
    ServerProcess server(data, secret);
    std::atomic<bool> killed{false};
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client) {
      clients.emplace_back([&, client] {
        httplib::Client http("127.0.0.1", server.port());
        http.set_connection_timeout(2);
        http.set_read_timeout(5);
        for (int sequence = 1; sequence < 100000 && !killed; ++sequence) {
          {
            std::lock_guard lock(mutex);
            attempted.insert({client, sequence});
          }
          const auto answer = http.Post("/postData", record(client, sequence), "text/plain");
          if (!answer) {
            return;
          }
          if (answer->status == 200) {
            std::lock_guard lock(mutex);
            acknowledged.insert({client, sequence});
          }
        }
      });
    }
    // Kill it hard once a few hundred are in, at most 20 s on.
    for (int waited = 0; waited < 2000; ++waited) {
      {
        std::lock_guard lock(mutex);
        if (acknowledged.size() >= 400) {
          break;
        }
      }
      usleep(10000);
    }
    const int status = server.stop(SIGKILL);
    killed = true;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    for (std::thread& client : clients) {
      client.join();
    }
  }
  ASSERT_GE(acknowledged.size(), 400U);

  // The database is whole, and holds every acknowledged report.
  sqlite3* database = nullptr;
  ASSERT_EQ(sqlite3_open((data / "reports.sqlite").c_str(), &database), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(database, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(database);

  ServerProcess restarted(data, secret);
  httplib::Client http("127.0.0.1", restarted.port());
  http.set_read_timeout(10);
  const auto answer = http.Get("/api/reports?limit=10000", {{"Authorization", std::string("Bearer ") + kSecret}});
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200);
  std::set<std::pair<int, int>> stored;
  const nlohmann::json body = nlohmann::json::parse(answer->body);
  for (const auto& report : body["reports"]) {
    const int client = report["pulse"].get<int>() - 10;
    const int sequence = static_cast<int>(std::lround(report["latitude"].get<double>() * 1e6));
    EXPECT_DOUBLE_EQ(report["longitude"].get<double>(), 0.0);
    // Nothing that was never sent, and nothing twice.
    EXPECT_TRUE(attempted.count({client, sequence})) << client << " " << sequence;
    EXPECT_TRUE(stored.insert({client, sequence}).second) << client << " " << sequence;
  }
  for (const auto& report : acknowledged) {
    EXPECT_TRUE(stored.count(report)) << "lost " << report.first << " " << report.second;
  }
}

TEST(ServerProcessTest, StopsCleanlyOnSigtermAndLogsEachRequest) {
  TemporaryFolder folder;
  const auto secret = folder.path() / "secret";
  writePrivateFile(secret, std::string(kSecret) + "\n");
  ServerProcess server(folder.path() / "data", secret);
  httplib::Client http("127.0.0.1", server.port());
  http.set_read_timeout(5);
  ASSERT_TRUE(http.Get("/getCircle"));
  ASSERT_TRUE(http.Post("/postData", "bad", "text/plain"));
  // A path that decodes to a line feed and an escape code forges no log
  // line and sends nothing raw to the terminal showing the log.
  ASSERT_TRUE(http.Get("/x%0A2026-01-01 00:00:00 UTC 10.0.0.1 POST /postData 200%1B[2J"));
  const int status = server.stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string log = server.rest();
  EXPECT_NE(log.find("127.0.0.1 GET /getCircle 200\n"), std::string::npos) << log;
  EXPECT_NE(log.find("127.0.0.1 POST /postData 400\n"), std::string::npos) << log;
  EXPECT_NE(log.find("report_server: stopped"), std::string::npos) << log;
  EXPECT_NE(log.find(" GET /x%0A2026-01-01 00:00:00 UTC 10.0.0.1 POST /postData 200%1B[2J 404\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("\n2026-01-01 00:00:00 UTC 10.0.0.1"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1B'), std::string::npos);
  // The database is its owner's only.
  for (const auto& file : std::filesystem::directory_iterator(folder.path() / "data")) {
    EXPECT_EQ(std::filesystem::status(file).permissions() &
                  (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none)
        << file.path();
  }
}

}  // namespace
