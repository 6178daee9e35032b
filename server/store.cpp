#include "server/store.h"

#include <cmath>
#include <sqlite3.h>

#include <stdexcept>

namespace server {

namespace {

// A prepared statement, finalised on every way out.
class Statement {
 public:
  Statement(sqlite3* database, const char* sql) {
    if (sqlite3_prepare_v2(database, sql, -1, &statement_, nullptr) != SQLITE_OK) {
      throw StorageFault(std::string("sqlite: ") + sqlite3_errmsg(database));
    }
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// A read's next row (SQLITE_ROW) or its end (SQLITE_DONE); anything else is
// a fault, never an empty answer.
int stepRead(const Statement& statement, sqlite3* database) {
  const int result = sqlite3_step(statement.get());
  if (result != SQLITE_ROW && result != SQLITE_DONE) {
    throw StorageFault(std::string("sqlite: ") + sqlite3_errmsg(database));
  }
  return result;
}

std::optional<double> columnReal(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
    return std::nullopt;
  }
  return sqlite3_column_double(statement, column);
}

StoredReport readReport(sqlite3_stmt* statement) {
  StoredReport report;
  report.id = sqlite3_column_int64(statement, 0);
  report.receivedMs = sqlite3_column_int64(statement, 1);
  report.sender = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
  report.latitude = columnReal(statement, 3);
  report.longitude = columnReal(statement, 4);
  report.pulse = sqlite3_column_int(statement, 5);
  return report;
}

constexpr int kDefaultRadius = 250;

}  // namespace

Store::Store(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "reports.sqlite").string();
  if (sqlite3_open_v2(file.c_str(), &database_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string message = database_ != nullptr ? sqlite3_errmsg(database_) : "out of memory";
    sqlite3_close(database_);
    throw std::runtime_error("cannot open " + file + ": " + message);
  }
  sqlite3_busy_timeout(database_, 5000);
  // Write-ahead log, synced at every commit: a committed report survives a
  // crash of the process or of the machine.
  execute("PRAGMA journal_mode=WAL");
  execute("PRAGMA synchronous=FULL");
  execute(
      "CREATE TABLE IF NOT EXISTS reports (id INTEGER PRIMARY KEY, received_ms INTEGER NOT NULL, "
      "sender TEXT NOT NULL, latitude REAL, longitude REAL, pulse INTEGER NOT NULL)");
  execute("CREATE INDEX IF NOT EXISTS reports_by_time ON reports (received_ms)");
  execute("CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value INTEGER NOT NULL)");
  execute("INSERT OR IGNORE INTO settings (name, value) VALUES ('radius', 250)");
  writer_ = std::thread([this] { writeLoop(); });
}

Store::~Store() {
  {
    std::lock_guard lock(queueMutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  writer_.join();
  sqlite3_close(database_);
}

void Store::execute(const char* sql) const {
  char* error = nullptr;
  if (sqlite3_exec(database_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message + " in " + sql);
  }
}

bool Store::append(const Report& report, int64_t receivedMs, const std::string& sender) {
  Pending pending{report, receivedMs, sender};
  std::unique_lock lock(queueMutex_);
  queue_.push_back(&pending);
  queued_.notify_one();
  committed_.wait(lock, [&pending] { return pending.done; });
  return pending.ok;
}

// Takes every report waiting, writes them in one transaction, and only after
// its commit tells their senders.
void Store::writeLoop() {
  for (;;) {
    std::deque<Pending*> batch;
    {
      std::unique_lock lock(queueMutex_);
      queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) {
        return;
      }
      batch.swap(queue_);
    }
    bool ok = true;
    {
      std::lock_guard database(databaseMutex_);
      try {
        execute("BEGIN IMMEDIATE");
        Statement insert(database_,
                         "INSERT INTO reports (received_ms, sender, latitude, longitude, pulse) VALUES (?, ?, ?, ?, ?)");
        for (const Pending* pending : batch) {
          sqlite3_reset(insert.get());
          sqlite3_bind_int64(insert.get(), 1, pending->receivedMs);
          sqlite3_bind_text(insert.get(), 2, pending->sender.c_str(), -1, SQLITE_TRANSIENT);
          if (pending->report.latitude) {
            sqlite3_bind_double(insert.get(), 3, *pending->report.latitude);
            sqlite3_bind_double(insert.get(), 4, *pending->report.longitude);
          } else {
            sqlite3_bind_null(insert.get(), 3);
            sqlite3_bind_null(insert.get(), 4);
          }
          sqlite3_bind_int(insert.get(), 5, pending->report.pulse);
          ok = ok && sqlite3_step(insert.get()) == SQLITE_DONE;
        }
        if (ok) {
          execute("COMMIT");
        } else {
          execute("ROLLBACK");
        }
      } catch (const std::exception&) {
        sqlite3_exec(database_, "ROLLBACK", nullptr, nullptr, nullptr);
        ok = false;
      }
    }
    {
      std::lock_guard lock(queueMutex_);
      for (Pending* pending : batch) {
        pending->ok = ok;
        pending->done = true;
      }
    }
    committed_.notify_all();
  }
}

std::vector<StoredReport> Store::reportsSince(int64_t receivedMs, size_t limit) const {
  std::lock_guard lock(databaseMutex_);
  Statement select(database_,
                   // In the time index's order, so a poll for what is new
                   // reads that much of the index and stops.
                   "SELECT * FROM (SELECT id, received_ms, sender, latitude, longitude, pulse FROM reports "
                   "WHERE received_ms > ? ORDER BY received_ms DESC, id DESC LIMIT ?) ORDER BY received_ms, id");
  sqlite3_bind_int64(select.get(), 1, receivedMs);
  sqlite3_bind_int64(select.get(), 2, static_cast<int64_t>(limit));
  std::vector<StoredReport> reports;
  while (stepRead(select, database_) == SQLITE_ROW) {
    reports.push_back(readReport(select.get()));
  }
  return reports;
}

std::optional<StoredReport> Store::latest() const {
  const auto last = reportsSince(INT64_MIN, 1);
  if (last.empty()) {
    return std::nullopt;
  }
  return last.front();
}

int64_t Store::count() const {
  std::lock_guard lock(databaseMutex_);
  Statement select(database_, "SELECT count(*) FROM reports");
  return stepRead(select, database_) == SQLITE_ROW ? sqlite3_column_int64(select.get(), 0) : 0;
}

int Store::radius() const {
  std::lock_guard lock(databaseMutex_);
  Statement select(database_, "SELECT value FROM settings WHERE name = 'radius'");
  return stepRead(select, database_) == SQLITE_ROW ? sqlite3_column_int(select.get(), 0) : kDefaultRadius;
}

// Kept in the settings as whole microdegrees.
std::optional<std::pair<double, double>> Store::centre() const {
  std::lock_guard lock(databaseMutex_);
  Statement select(database_,
                   "SELECT (SELECT value FROM settings WHERE name = 'centre_latitude_e6'), "
                   "(SELECT value FROM settings WHERE name = 'centre_longitude_e6')");
  if (stepRead(select, database_) != SQLITE_ROW || sqlite3_column_type(select.get(), 0) == SQLITE_NULL ||
      sqlite3_column_type(select.get(), 1) == SQLITE_NULL) {
    return std::nullopt;
  }
  return std::pair{static_cast<double>(sqlite3_column_int64(select.get(), 0)) / 1e6,
                   static_cast<double>(sqlite3_column_int64(select.get(), 1)) / 1e6};
}

bool Store::setCentre(std::optional<std::pair<double, double>> centre) {
  if (centre && !(centre->first >= -90 && centre->first <= 90 && centre->second >= -180 && centre->second <= 180)) {
    return false;
  }
  std::lock_guard lock(databaseMutex_);
  if (!centre) {
    Statement remove(database_, "DELETE FROM settings WHERE name IN ('centre_latitude_e6', 'centre_longitude_e6')");
    return sqlite3_step(remove.get()) == SQLITE_DONE;
  }
  for (const auto& [name, degrees] : {std::pair{"centre_latitude_e6", centre->first}, std::pair{"centre_longitude_e6", centre->second}}) {
    Statement insert(database_, "INSERT OR REPLACE INTO settings (name, value) VALUES (?, ?)");
    sqlite3_bind_text(insert.get(), 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_int64(insert.get(), 2, std::llround(degrees * 1e6));
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
      return false;
    }
  }
  return true;
}

bool Store::benchClock() const {
  std::lock_guard lock(databaseMutex_);
  Statement select(database_, "SELECT value FROM settings WHERE name = 'bench_clock'");
  return stepRead(select, database_) == SQLITE_ROW && sqlite3_column_int(select.get(), 0) == 1;
}

bool Store::setBenchClock() {
  std::lock_guard lock(databaseMutex_);
  Statement insert(database_, "INSERT OR REPLACE INTO settings (name, value) VALUES ('bench_clock', 1)");
  return sqlite3_step(insert.get()) == SQLITE_DONE;
}

bool Store::setRadius(int metres) {
  if (metres < 1 || metres > 9999) {
    return false;
  }
  std::lock_guard lock(databaseMutex_);
  Statement update(database_, "UPDATE settings SET value = ? WHERE name = 'radius'");
  sqlite3_bind_int(update.get(), 1, metres);
  return sqlite3_step(update.get()) == SQLITE_DONE;
}

}  // namespace server
