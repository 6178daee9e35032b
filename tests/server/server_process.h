// The report_server executable in a process of its own, started with a data
// folder and a secret file, on a free port it tells on its first line.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace server_test {

// A file of secrets as the server wants it: the owner's only.
inline void writePrivateFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path) << text;
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

class ServerProcess {
 public:
  ServerProcess(const std::filesystem::path& data, const std::filesystem::path& secretFile,
                std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"report_server", "--listen",      "127.0.0.1:0",
                                          "--data",        data.string(),   "--secret-file",
                                          secretFile.string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int output[2];
    if (pipe(output) != 0) {
      throw std::runtime_error("pipe");
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(output[1], STDOUT_FILENO);
      close(output[0]);
      close(output[1]);
      execv(REPORT_SERVER_PATH, argv.data());
      _exit(127);
    }
    close(output[1]);
    output_ = output[0];
    // "report_server: listening on http://127.0.0.1:PORT[ (trackers),
    // https://127.0.0.1:PORT (caretaker)], ...", within 10 s.
    const std::string line = readLine(std::chrono::seconds(10));
    const size_t colon = line.find(':', line.find("127.0.0.1"));
    if (colon == std::string::npos) {
      stop(SIGKILL);
      throw std::runtime_error("the server did not start: " + line);
    }
    port_ = std::stoi(line.substr(colon + 1));
    const size_t second = line.find("127.0.0.1", colon);
    caretakerPort_ = second == std::string::npos ? port_ : std::stoi(line.substr(line.find(':', second) + 1));
  }
  ~ServerProcess() {
    stop(SIGKILL);
    close(output_);
  }

  int port() const { return port_; }
  int caretakerPort() const { return caretakerPort_; }
  pid_t pid() const { return pid_; }

  // Sends the signal and waits for the end, at most 10 s; the exit status.
  int stop(int signal) {
    if (pid_ <= 0) {
      return status_;
    }
    kill(pid_, signal);
    for (int waited = 0; waited < 1000; ++waited) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = 0;
        return status_;
      }
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = 0;
    return status_;
  }

  // What the server prints in that time, while it runs.
  std::string readFor(std::chrono::milliseconds limit) {
    std::string text;
    char buffer[4096];
    for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
      pollfd ready{output_, POLLIN, 0};
      if (poll(&ready, 1, 10) > 0) {
        const ssize_t got = read(output_, buffer, sizeof buffer);
        if (got <= 0) {
          break;
        }
        text.append(buffer, static_cast<size_t>(got));
      }
    }
    return text;
  }

  // What the server printed after its first line, once it has ended.
  std::string rest() {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(output_, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

 private:
  std::string readLine(std::chrono::milliseconds limit) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      pollfd ready{output_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) {
        continue;
      }
      char character;
      if (read(output_, &character, 1) != 1) {
        break;
      }
      if (character == '\n') {
        return line;
      }
      line += character;
    }
    return line;
  }

  pid_t pid_ = -1;
  int output_ = -1;
  int port_ = 0;
  int caretakerPort_ = 0;
  int status_ = 0;
};

}  // namespace server_test
