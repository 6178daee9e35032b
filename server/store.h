// The server's data in one SQLite database file: the reports as they came,
// and the settings. A report is acknowledged only once its transaction is
// committed to disk; reports that arrive together share one commit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "server/report_record.h"

struct sqlite3;

namespace server {

// The database could not answer (a read or write failed, not "nothing").
class StorageFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StoredReport {
  int64_t id;
  int64_t receivedMs;  // milliseconds since the Unix epoch; a bench's: since its run began
  std::string sender;
  std::optional<double> latitude;
  std::optional<double> longitude;
  int pulse;
};

class Store {
 public:
  // Opens (or creates) FOLDER/reports.sqlite.
  explicit Store(const std::filesystem::path& folder);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Returns once the report is durable; false if the database refused it.
  bool append(const Report& report, int64_t receivedMs, const std::string& sender);

  // Reads throw StorageFault when the database fails.
  // Reports received after a time, oldest first, at most limit of them
  // (the newest, when there are more).
  [[nodiscard]] std::vector<StoredReport> reportsSince(int64_t receivedMs, size_t limit) const;
  [[nodiscard]] std::optional<StoredReport> latest() const;
  [[nodiscard]] int64_t count() const;

  // The geofence radius in metres, 1 to 9999 (250 in a new database).
  [[nodiscard]] int radius() const;
  bool setRadius(int metres);  // false: out of range or not stored

  // Where the page draws the circle (latitude, longitude), if the caretaker
  // set it; nullopt clears it.
  [[nodiscard]] std::optional<std::pair<double, double>> centre() const;
  bool setCentre(std::optional<std::pair<double, double>> centre);

  // A bench's store: the reports' times are its run's virtual time, which
  // the bench gives with each report; set once, when the bench makes it.
  [[nodiscard]] bool benchClock() const;
  bool setBenchClock();

 private:
  struct Pending {
    Report report;
    int64_t receivedMs;
    std::string sender;
    bool done = false;
    bool ok = false;
  };
  void writeLoop();
  void execute(const char* sql) const;

  sqlite3* database_ = nullptr;
  mutable std::mutex databaseMutex_;
  std::mutex queueMutex_;
  std::condition_variable queued_;
  std::condition_variable committed_;
  std::deque<Pending*> queue_;
  bool stopping_ = false;
  std::thread writer_;
};

}  // namespace server
