// The report server a caretaker runs: the tracker posts its reports here and
// fetches the geofence radius; the caretaker watches them on a page.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "server/access.h"
#include "server/http_daemon.h"
#include "server/log_writer.h"
#include "server/report_server.h"
#include "server/store.h"

namespace {

constexpr size_t kShortestSecret = 16;

struct Address {
  std::string host;
  int port = 0;
};

// "ADDRESS:PORT", the address numeric ("[::1]:5000" for IPv6).
std::string readAddress(const std::string& text, Address& into) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return "takes ADDRESS:PORT";
  }
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) > 65535) {
    return "takes a port from 0 to 65535";
  }
  into = {host, std::stoi(port)};
  return "";
}

std::string readFile(const std::string& path, std::string& contents) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream read;
  read << file.rdbuf();
  if (!file) {
    return "cannot read " + path;
  }
  contents = read.str();
  return "";
}

// A file of secrets: its owner's only, else anyone on the machine reads it.
std::string readPrivateFile(const std::string& path, std::string& contents) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return "cannot read " + path;
  }
  if ((status.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return path + " is readable by others (mode " + mode + "): chmod 600 it";
  }
  return readFile(path, contents);
}

// The file's first line, without its line end and trailing blanks.
std::string firstLine(const std::string& contents) {
  std::string line = contents.substr(0, contents.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  return line;
}

std::string readSecret(const std::string& path, const char* what, std::string& secret) {
  std::string contents;
  if (std::string error = readPrivateFile(path, contents); !error.empty()) {
    return error;
  }
  secret = firstLine(contents);
  if (secret.size() < kShortestSecret) {
    return std::string(what) + " in " + path + " is " + std::to_string(secret.size()) +
           " characters; it must be at least " + std::to_string(kShortestSecret);
  }
  for (const unsigned char character : secret) {
    if (character < 0x20 || character >= 0x7F) {
      return std::string(what) + " in " + path + " holds a byte that is not printable ASCII";
    }
  }
  return "";
}

int fail(const std::string& error) {
  std::cerr << "report_server: " << error << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "The report server: trackers post their reports and fetch the geofence radius (POST /postData, GET "
      "/getCircle); the caretaker signs in with the secret and watches them on a page.");
  std::string listen = "127.0.0.1:5000";
  std::string caretakerListen;
  std::string data;
  std::string secretFile;
  std::string trackerKeyFile;
  std::string certificateFile;
  std::string keyFile;
  server::HttpLimits limits;
  app.add_option("--listen", listen,
                 "where the trackers' face listens, ADDRESS:PORT (the tracker uses port 5000; port 0 takes any "
                 "free port and tells it); without --caretaker-listen it serves the caretaker's paths too")
      ->capture_default_str();
  app.add_option("--caretaker-listen", caretakerListen,
                 "where the caretaker's face listens (the page, login, settings, JSON), ADDRESS:PORT");
  app.add_option("--data", data, "the folder of the database (reports.sqlite), created if missing")->required();
  app.add_option("--secret-file", secretFile,
                 "the caretaker's secret, on the file's first line: 16 characters at least, the file mode 0600; "
                 "tools send it as \"Authorization: Bearer <secret>\", browsers sign in with it")
      ->required();
  app.add_option("--tracker-key-file", trackerKeyFile,
                 "the trackers' key (the firmware's TRACKER_SERVER_KEY), mode 0600: requests without "
                 "\"X-Tracker-Key: <key>\" are answered 403");
  app.add_option("--tls-cert", certificateFile, "the caretaker's face serves HTTPS with this PEM certificate chain")
      ->check(CLI::ExistingFile);
  app.add_option("--tls-key", keyFile, "and this PEM private key (mode 0600)")->check(CLI::ExistingFile);
  app.add_option("--connections", limits.connections, "open connections at most, on each face")
      ->check(CLI::Range(16U, 100000U))
      ->capture_default_str();
  app.add_option("--idle-seconds", limits.idleSeconds, "a connection silent this long is closed")
      ->check(CLI::Range(1U, 300U))
      ->capture_default_str();
  app.add_option("--connections-per-address", limits.connectionsPerAddress,
                 "open connections at most from one address, 0 for no limit (a carrier's trackers may share one)")
      ->capture_default_str();
  app.footer(
      "Every request is bounded: " + std::to_string(limits.headerCount) + " header fields and " +
      std::to_string(limits.connectionBytes / 1024) + " KiB of request line and headers, a body of " +
      std::to_string(server::kLargestBody) + " bytes on any transfer encoding, " +
      std::to_string(limits.idleSeconds) + " s without a byte and " + std::to_string(limits.requestTime.count()) +
      " s in all. Wrong secrets from one address are slowed after " + std::to_string(server::Access::kFreeFailures) +
      " and locked out for " + std::to_string(server::Access::kLockOut.count()) + " minutes after " +
      std::to_string(server::Access::kLockingFailures) + ".");
  CLI11_PARSE(app, argc, argv);

  Address trackers;
  Address caretaker;
  if (std::string error = readAddress(listen, trackers); !error.empty()) {
    return fail("--listen " + error);
  }
  const bool twoFaces = !caretakerListen.empty();
  if (twoFaces) {
    if (std::string error = readAddress(caretakerListen, caretaker); !error.empty()) {
      return fail("--caretaker-listen " + error);
    }
  }
  if (certificateFile.empty() != keyFile.empty()) {
    return fail("--tls-cert and --tls-key go together");
  }
  if (!certificateFile.empty() && !twoFaces) {
    return fail("TLS is for the caretaker's face (--caretaker-listen); the trackers' stays plain HTTP");
  }
  std::string secret;
  if (std::string error = readSecret(secretFile, "the secret", secret); !error.empty()) {
    return fail(error);
  }
  std::string trackerKey;
  if (!trackerKeyFile.empty()) {
    if (std::string error = readSecret(trackerKeyFile, "the tracker key", trackerKey); !error.empty()) {
      return fail(error);
    }
  }
  std::optional<server::TlsFiles> tls;
  if (!certificateFile.empty()) {
    tls.emplace();
    if (std::string error = readFile(certificateFile, tls->certificatePem); !error.empty()) {
      return fail(error);
    }
    if (std::string error = readPrivateFile(keyFile, tls->keyPem); !error.empty()) {
      return fail(error);
    }
  }

  // SIGTERM and SIGINT are awaited by the main thread; every thread has
  // them blocked. A log pipe with no reader is not a reason to die.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // A socket per connection: as many as the system lets this process have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // The database and its journal hold the caretaker's data: the owner's only.
  umask(077);
  try {
    server::Store store(data);
    server::Access access(secret);
    server::ReportServer reports(store, access);
    if (!trackerKey.empty()) {
      reports.requireTrackerKey(trackerKey);
    }
    server::LogWriter log(STDOUT_FILENO);
    const auto logRequest = [&log](const std::string& address, const server::HttpRequest& request, int status) {
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      log.write(server::logLine(std::chrono::duration_cast<std::chrono::milliseconds>(now).count(), address,
                                request, status));
    };
    const server::Face trackersFace = twoFaces ? server::Face::Trackers : server::Face::Both;
    server::HttpDaemon trackerDaemon(
        [&reports, trackersFace](const server::HttpRequest& request) { return reports.answer(request, trackersFace); },
        limits);
    trackerDaemon.logTo(logRequest);
    std::unique_ptr<server::HttpDaemon> caretakerDaemon;
    std::string error;
    const auto trackerPort = trackerDaemon.listen(trackers.host, trackers.port, error);
    if (!trackerPort) {
      std::cerr << "report_server: " << error << "\n";
      return 1;
    }
    std::optional<int> caretakerPort;
    if (twoFaces) {
      caretakerDaemon = std::make_unique<server::HttpDaemon>(
          [&reports](const server::HttpRequest& request) { return reports.answer(request, server::Face::Caretaker); },
          limits);
      caretakerDaemon->logTo(logRequest);
      caretakerPort = caretakerDaemon->listen(caretaker.host, caretaker.port, error, tls);
      if (!caretakerPort) {
        std::cerr << "report_server: " << error << "\n";
        return 1;
      }
    }
    // The ports on the first line: port 0 takes any free port.
    std::string listening = "report_server: listening on http://" + trackers.host + ":" + std::to_string(*trackerPort);
    if (caretakerPort) {
      listening += " (trackers), " + std::string(tls ? "https" : "http") + "://" + caretaker.host + ":" +
                   std::to_string(*caretakerPort) + " (caretaker)";
    }
    log.write(listening + ", data in " + data);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    trackerDaemon.stop();
    if (caretakerDaemon) {
      caretakerDaemon->stop();
    }
    log.write("report_server: stopped");
  } catch (const std::exception& failure) {
    std::cerr << "report_server: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
