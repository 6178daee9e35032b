// A program in a process of its own with its output and errors read back;
// every wait on it has a bound.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace gdb_test {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& arguments) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
      throw std::runtime_error("pipe");
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      for (const int descriptor : {out[0], out[1], err[0], err[1]}) {
        close(descriptor);
      }
      std::vector<char*> argv;
      for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
      }
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    streams_[0].descriptor = out[0];
    streams_[1].descriptor = err[0];
    exited_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (!status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (Stream& stream : streams_) {
      close(stream.descriptor);
    }
    close(exited_);
  }

  // Reads until text appears on the output (or the errors), or the time is
  // up: whether it appeared.
  bool awaitText(const std::string& text, std::chrono::milliseconds limit, bool errors = false) {
    const auto end = std::chrono::steady_clock::now() + limit;
    const std::string& seen = errors ? streams_[1].text : streams_[0].text;
    while (seen.find(text) == std::string::npos) {
      if (!readFor(end)) {
        return seen.find(text) != std::string::npos;
      }
    }
    return true;
  }
  // The exit status once it ended, within the limit; else it is killed.
  std::optional<int> wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while ((!status_ || streams_[0].open || streams_[1].open) && readFor(end)) {
    }
    if (!status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      status_ = -1;
      return std::nullopt;
    }
    return *status_;
  }
  void signal(int number) const { kill(pid_, number); }
  [[nodiscard]] const std::string& output() const { return streams_[0].text; }
  [[nodiscard]] const std::string& errors() const { return streams_[1].text; }

 private:
  struct Stream {
    int descriptor = -1;
    bool open = true;
    std::string text;
  };

  // Reads whatever comes before the end and reaps the process when it
  // ends; false when the time is up or nothing more can come.
  bool readFor(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    std::vector<pollfd> ready;
    for (const Stream& stream : streams_) {
      if (stream.open) {
        ready.push_back({stream.descriptor, POLLIN, 0});
      }
    }
    if (!status_) {
      ready.push_back({exited_, POLLIN, 0});
    }
    if (ready.empty() || left.count() <= 0 || poll(ready.data(), ready.size(), static_cast<int>(left.count())) <= 0) {
      return false;
    }
    for (const pollfd& one : ready) {
      if (one.revents == 0) {
        continue;
      }
      if (one.fd == exited_) {
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        continue;
      }
      Stream& stream = one.fd == streams_[0].descriptor ? streams_[0] : streams_[1];
      char buffer[4096];
      const ssize_t count = read(stream.descriptor, buffer, sizeof buffer);
      if (count > 0) {
        stream.text.append(buffer, static_cast<size_t>(count));
      } else {
        stream.open = false;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int exited_ = -1;
  Stream streams_[2];
  std::optional<int> status_;
};

}  // namespace gdb_test
