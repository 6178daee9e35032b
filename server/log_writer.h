// The request log, written by a thread of its own: a log nobody reads (a
// full pipe, a stopped terminal) drops lines and counts them, and never
// holds a request.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace server {

class LogWriter {
 public:
  explicit LogWriter(int fd, size_t waitingLines = 1024);
  ~LogWriter();  // writes what it can within a quarter second, then gives up
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Never waits: past waitingLines the line is dropped and counted.
  void write(std::string line);

 private:
  void run();
  bool writeAll(const std::string& text);

  int fd_;
  int flags_ = 0;
  size_t waitingLines_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> lines_;
  size_t dropped_ = 0;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point giveUpAt_{};
  std::thread thread_;
};

}  // namespace server
