#include "server/log_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace server {

LogWriter::LogWriter(int fd, size_t waitingLines) : fd_(fd), waitingLines_(waitingLines) {
  // Written with poll, so a stop is never held by a write that cannot go.
  // (The flags are the open file's, shared with a terminal: put back after.)
  flags_ = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK);
  thread_ = std::thread([this] { run(); });
}

LogWriter::~LogWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    giveUpAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
  }
  ready_.notify_all();
  thread_.join();
  fcntl(fd_, F_SETFL, flags_);
}

void LogWriter::write(std::string line) {
  {
    std::lock_guard lock(mutex_);
    if (lines_.size() >= waitingLines_) {
      ++dropped_;
      return;
    }
    lines_.push_back(std::move(line) + "\n");
  }
  ready_.notify_one();
}

bool LogWriter::writeAll(const std::string& text) {
  for (size_t written = 0; written < text.size();) {
    const ssize_t wrote = ::write(fd_, text.data() + written, text.size() - written);
    if (wrote > 0) {
      written += static_cast<size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    pollfd writable{fd_, POLLOUT, 0};
    poll(&writable, 1, 100);
    std::lock_guard lock(mutex_);
    if (stopping_ && std::chrono::steady_clock::now() > giveUpAt_) {
      return false;
    }
  }
  return true;
}

void LogWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return stopping_ || !lines_.empty() || dropped_ > 0; });
    if (lines_.empty() && dropped_ == 0) {
      return;  // stopping, and all written
    }
    std::string text;
    if (dropped_ > 0) {
      text = "report_server: " + std::to_string(dropped_) + " log line" + (dropped_ == 1 ? "" : "s") +
             " dropped: the log was not read\n";
      dropped_ = 0;
    }
    while (!lines_.empty()) {
      text += lines_.front();
      lines_.pop_front();
    }
    lock.unlock();
    const bool written = writeAll(text);
    lock.lock();
    if (!written && stopping_) {
      return;
    }
  }
}

}  // namespace server
