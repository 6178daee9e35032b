// The report server on the loopback: acknowledged durable reports a second
// from 8 concurrent clients, and the caretaker's page with 100 000 stored
// reports.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include <httplib.h>

#include "server/access.h"
#include "server/http_daemon.h"
#include "server/report_server.h"
#include "server/store.h"

namespace {

constexpr const char* kSecret = "benchmark secret";

struct Served {
  explicit Served(const std::filesystem::path& folder)
      : store(folder), access(kSecret), reports(store, access),
        daemon([this](const server::HttpRequest& request) { return reports.answer(request); }) {
    std::string error;
    port = daemon.listen("127.0.0.1", 0, error).value_or(0);
  }
  server::Store store;
  server::Access access;
  server::ReportServer reports;
  server::HttpDaemon daemon;
  int port = 0;
};

std::filesystem::path freshFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "report-bench-XXXXXX").string();
  return mkdtemp(pattern.data());
}

std::unique_ptr<Served> served;
std::filesystem::path servedFolder;

void BM_DurableReports(benchmark::State& state) {
  if (state.thread_index() == 0) {
    servedFolder = freshFolder();
    served = std::make_unique<Served>(servedFolder);
  }
  // (The benchmark library lines the threads up after the set-up.)
  std::unique_ptr<httplib::Client> connection;
  int64_t acknowledged = 0;
  for (auto _ : state) {
    if (!connection) {
      connection = std::make_unique<httplib::Client>("127.0.0.1", served->port);
      connection->set_keep_alive(true);
      connection->set_tcp_nodelay(true);
    }
    const auto answer = connection->Post("/postData", "41.015137,28.979530,72\r\n", "text/plain");
    if (!answer || answer->status != 200) {
      state.SkipWithError("a report was not acknowledged");
      break;
    }
    ++acknowledged;
  }
  state.SetItemsProcessed(acknowledged);
  if (state.thread_index() == 0) {
    served.reset();
    std::filesystem::remove_all(servedFolder);
  }
}
BENCHMARK(BM_DurableReports)->Threads(8)->UseRealTime()->MinTime(3.0);

// A store of 100 000 reports, 40 s apart, filled in one transaction: the
// set-up is not what is measured.
constexpr int64_t kFirstReceived = 1796700000000LL;
constexpr int kFilled = 100000;

std::filesystem::path folderWith100000Reports() {
  const std::filesystem::path folder = freshFolder();
  {
    server::Store create(folder);
  }
  sqlite3* database = nullptr;
  sqlite3_open((folder / "reports.sqlite").c_str(), &database);
  sqlite3_exec(database, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(database,
                     "INSERT INTO reports (received_ms, sender, latitude, longitude, pulse) VALUES (?, '127.0.0.1', ?, ?, 72)",
                     -1, &insert, nullptr);
  for (int index = 0; index < kFilled; ++index) {
    sqlite3_reset(insert);
    sqlite3_bind_int64(insert, 1, kFirstReceived + index * 40000LL);
    sqlite3_bind_double(insert, 2, 41.0 + (index % 1000) * 1e-5);
    sqlite3_bind_double(insert, 3, 29.0 + (index % 700) * 1e-5);
    sqlite3_step(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(database);
  return folder;
}

// The same path again and again on one connection.
void getRepeatedly(benchmark::State& state, const std::string& path) {
  const std::filesystem::path folder = folderWith100000Reports();
  {
    Served page(folder);
    httplib::Client client("127.0.0.1", page.port);
    const httplib::Headers bearer = {{"Authorization", std::string("Bearer ") + kSecret}};
    for (auto _ : state) {
      const auto answer = client.Get(path, bearer);
      if (!answer || answer->status != 200) {
        state.SkipWithError("no answer");
        break;
      }
      benchmark::DoNotOptimize(answer->body.size());
    }
  }
  std::filesystem::remove_all(folder);
}

void BM_PageWith100000Reports(benchmark::State& state) { getRepeatedly(state, "/"); }
// The page's poll every 10 s for what is newer than the newest it shows:
// nothing, found in the time index without a scan of the table.
void BM_PollWith100000Reports(benchmark::State& state) {
  getRepeatedly(state, "/api/reports?since=" + std::to_string(kFirstReceived + (kFilled - 1) * 40000LL));
}
BENCHMARK(BM_PollWith100000Reports)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PageWith100000Reports)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
