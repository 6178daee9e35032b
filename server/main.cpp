// The report server a caretaker runs: the tracker posts its reports here and
// fetches the geofence radius; the caretaker watches them on a page.
//
//   report_server --listen ADDRESS:PORT --data FOLDER --secret-file FILE
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "server/access.h"
#include "server/report_server.h"
#include "server/store.h"

namespace {

constexpr const char* kUsage =
    "usage: report_server --listen ADDRESS:PORT --data FOLDER --secret-file FILE\n"
    "\n"
    "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:5000; the tracker uses port 5000;\n"
    "                         port 0 takes any free port and tells it)\n"
    "  --data FOLDER          the folder of the database (reports.sqlite), created if missing\n"
    "  --secret-file FILE     the caretaker's secret, on the file's first line; tools send it as\n"
    "                         \"Authorization: Bearer <secret>\", browsers sign in with it\n"
    "  --help                 this text\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 5000;
  std::string data;
  std::string secretFile;
};

bool parse(int argc, char** argv, Options& options, std::string& error) {
  for (int index = 1; index < argc; ++index) {
    const std::string option = argv[index];
    if (index + 1 >= argc) {
      error = option == "--help" ? "" : "missing value after " + option;
      return false;
    }
    const std::string value = argv[++index];
    if (option == "--listen") {
      const size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0) {
        error = "--listen takes ADDRESS:PORT";
        return false;
      }
      options.host = value.substr(0, colon);
      const std::string port = value.substr(colon + 1);
      if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(port) > 65535) {
        error = "--listen takes a port from 0 to 65535";
        return false;
      }
      options.port = std::stoi(port);
    } else if (option == "--data") {
      options.data = value;
    } else if (option == "--secret-file") {
      options.secretFile = value;
    } else {
      error = "unknown option " + option;
      return false;
    }
  }
  if (options.data.empty() || options.secretFile.empty()) {
    error = "--data and --secret-file are needed";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int index = 1; index < argc; ++index) {
    if (std::string(argv[index]) == "--help") {
      std::cout << kUsage;
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!parse(argc, argv, options, error)) {
    std::cerr << "report_server: " << error << "\n\n" << kUsage;
    return 2;
  }
  std::ifstream secretFile(options.secretFile);
  std::string secret;
  if (!secretFile || !std::getline(secretFile, secret) || secret.empty()) {
    std::cerr << "report_server: no secret in " << options.secretFile << "\n";
    return 2;
  }
  while (!secret.empty() && (secret.back() == '\r' || secret.back() == ' ')) {
    secret.pop_back();
  }

  // SIGTERM and SIGINT are taken by one thread, which stops the server;
  // every other thread has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // The database and its journal hold the caretaker's data: the owner's only.
  umask(077);
  try {
    server::Store store(options.data);
    server::Access access(secret);
    server::ReportServer reports(store, access);
    reports.logTo([](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    });
    std::thread stopper([&reports, &stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      reports.http().stop();
    });
    stopper.detach();
    // Port 0: any free port, told on the first line.
    const int port = options.port == 0 ? reports.http().bind_to_any_port(options.host)
                                       : (reports.http().bind_to_port(options.host, options.port) ? options.port : -1);
    if (port <= 0) {
      std::cerr << "report_server: cannot listen on " << options.host << ":" << options.port << "\n";
      return 1;
    }
    std::printf("report_server: listening on http://%s:%d, data in %s\n", options.host.c_str(), port,
                options.data.c_str());
    std::fflush(stdout);
    reports.http().listen_after_bind();
    std::printf("report_server: stopped\n");
  } catch (const std::exception& failure) {
    std::cerr << "report_server: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
