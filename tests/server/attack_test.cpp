// The server as anyone on the internet may treat it, on the loopback, each
// attack bounded in time and count: slow and idle clients, floods of
// headers and bodies, guessed secrets, forged reports, a log nobody reads.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/server_fixture.h"
#include "tests/server/server_process.h"

namespace {

using namespace server_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A raw connection, for what no well-behaved client sends.
class Raw {
 public:
  explicit Raw(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
  }
  ~Raw() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Raw(Raw&& other) noexcept : fd_(other.fd_), connected_(other.connected_) { other.fd_ = -1; }
  Raw& operator=(Raw&&) = delete;

  bool connected() const { return connected_; }
  // False once the server has closed its side (or would not take more).
  bool send(std::string_view bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // What arrives until the server closes or the time runs out.
  std::string receive(std::chrono::milliseconds limit) {
    std::string got;
    const auto end = Clock::now() + limit;
    char buffer[8192];
    while (Clock::now() < end) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 20) <= 0) {
        continue;
      }
      const ssize_t read = recv(fd_, buffer, sizeof buffer, 0);
      if (read <= 0) {
        closedByServer_ = true;
        break;
      }
      got.append(buffer, static_cast<size_t>(read));
    }
    return got;
  }
  // The server has closed it: a read now gives its end. No waiting.
  bool closedNow() {
    pollfd ready{fd_, POLLIN, 0};
    char byte;
    return poll(&ready, 1, 0) > 0 && recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
  }
  // The server closed the connection (a read gives its end), within limit.
  bool closedWithin(std::chrono::milliseconds limit) {
    receive(limit);
    return closedByServer_;
  }

 private:
  int fd_;
  bool connected_ = false;
  bool closedByServer_ = false;
};

// Sockets enough for a thousand clients and the server in one process.
size_t raiseFileLimit(size_t wanted) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, wanted);
  setrlimit(RLIMIT_NOFILE, &files);
  return files.rlim_cur;
}

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

constexpr const char* kReport = "41.015137,28.979530,72\r\n";

struct Latencies {
  std::vector<double> milliseconds;
  int failed = 0;
  double percentile(double share) {
    std::sort(milliseconds.begin(), milliseconds.end());
    return milliseconds.empty() ? 0 : milliseconds[static_cast<size_t>(share * (milliseconds.size() - 1))];
  }
};

// A tracker's POST and GET (a new connection each, as the modem makes) and
// the caretaker's page, n times each.
Latencies trackerAndPage(int port, int times) {
  Latencies seen;
  for (int round = 0; round < times; ++round) {
    for (int request = 0; request < 3; ++request) {
      httplib::Client client("127.0.0.1", port);
      client.set_connection_timeout(5);
      client.set_read_timeout(5);
      const auto start = Clock::now();
      const auto answer = request == 0   ? client.Post("/postData", kReport, "text/plain")
                          : request == 1 ? client.Get("/getCircle")
                                         : client.Get("/", {{"Authorization", std::string("Bearer ") + kSecret}});
      seen.milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      seen.failed += answer && answer->status == 200 ? 0 : 1;
    }
  }
  return seen;
}

struct Process {
  TemporaryFolder folder;
  std::filesystem::path secret = folder.path() / "secret";
  Process() { writePrivateFile(secret, std::string(kSecret) + "\n"); }
};

TEST(Attacks, SlowAndIdleClientsDoNotHoldTheTrackersOrThePage) {
  // A thousand of each, or as many as this process may open.
  constexpr size_t kEach = 1000;
  const size_t files = raiseFileLimit(2 * kEach + 200);
  const size_t clients = std::min(kEach, files > 200 ? (files - 200) / 2 : 0);
  ASSERT_GE(clients, 100U) << "too few sockets allowed: " << files;
  Process setup;
  // Idle connections closed after a second, so that the idle clients
  // reconnect again and again while the test goes on.
  ServerProcess server(setup.folder.path() / "data", setup.secret, {"--idle-seconds", "1"});

  // Each slow client has sent its request line and sends a header byte
  // every 300 ms; each idle one sends nothing and reconnects when closed.
  std::vector<Raw> slow;
  for (size_t index = 0; index < clients; ++index) {
    slow.emplace_back(server.port());
    ASSERT_TRUE(slow.back().connected()) << index;
    slow.back().send("GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ");
  }
  std::vector<std::unique_ptr<Raw>> idle;
  for (size_t index = 0; index < clients; ++index) {
    idle.push_back(std::make_unique<Raw>(server.port()));
  }
  std::atomic<bool> attacking{true};
  size_t reconnected = 0;
  std::thread attacker([&] {
    while (attacking) {
      for (Raw& client : slow) {
        client.send("a");
      }
      for (auto& client : idle) {
        if (client->closedNow()) {
          client = std::make_unique<Raw>(server.port());
          ++reconnected;
        }
      }
      std::this_thread::sleep_for(300ms);
    }
  });
  // Three seconds of the tracker's and the caretaker's requests.
  Latencies seen;
  for (const auto start = Clock::now(); Clock::now() - start < 3s;) {
    const Latencies more = trackerAndPage(server.port(), 10);
    seen.milliseconds.insert(seen.milliseconds.end(), more.milliseconds.begin(), more.milliseconds.end());
    seen.failed += more.failed;
  }
  attacking = false;
  attacker.join();

  EXPECT_EQ(seen.failed, 0);
  EXPECT_GE(reconnected, clients) << "the idle clients were closed and came back";
  // Figures on this machine: p99 near 10 ms with the attack on.
  const double p99 = seen.percentile(0.99);
  std::printf("with %zu slow and %zu idle clients (%zu reconnections): %zu requests, p50 %.1f ms, p99 %.1f ms\n",
              clients, clients, reconnected, seen.milliseconds.size(), seen.percentile(0.5), p99);
  EXPECT_LT(p99, 500.0);
  // A stop is not held by the clients still open.
  const auto stopping = Clock::now();
  const int status = server.stop(SIGTERM);
  EXPECT_LT(Clock::now() - stopping, 1s);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Attacks, EachRequestIsBoundedInTimeWhateverItsPace) {
  server::HttpLimits limits;
  limits.idleSeconds = 1;
  limits.requestTime = 2s;
  RunningServer server(limits);
  // Silent: closed after the idle time.
  Raw silent(server.port());
  EXPECT_TRUE(silent.closedWithin(3s));
  // A byte every 300 ms is never idle, and is closed at its total time.
  Raw trickling(server.port());
  const auto start = Clock::now();
  trickling.send("GET / HTTP/1.1\r\n");
  bool open = true;
  while (open && Clock::now() - start < 5s) {
    open = trickling.send("X") && !trickling.closedWithin(300ms);
  }
  EXPECT_FALSE(open);
  EXPECT_GE(Clock::now() - start, 2s);
  EXPECT_LT(Clock::now() - start, 3500ms);
  // Keep-alive: the second request on a connection has its own time.
  Raw kept(server.port());
  for (int request = 0; request < 4; ++request) {
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(kept.send("GET /getCircle HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_NE(kept.receive(300ms).find("@250$"), std::string::npos) << request;
  }
}

TEST(Attacks, FloodsOfHeadersAndBodiesAreCutAtTheirLimits) {
  Process setup;
  ServerProcess server(setup.folder.path() / "data", setup.secret);
  const long before = residentKilobytes(server.pid());
  // Up to 200 MB each: a chunked body, a body whose length is declared, and
  // 100 000 header lines. Each is cut long before its end: what was sent is
  // what the two sockets' buffers took. (Whether the refusal is seen
  // depends on the kernel's reset; it is seen below for a whole request.)
  const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
  const std::string headerLines = [] {
    std::string lines;
    for (int line = 0; line < 1000; ++line) {
      lines += "X-Flood-" + std::to_string(line) + ": " + std::string(64, 'y') + "\r\n";
    }
    return lines;
  }();
  const std::vector<std::pair<std::string, const std::string&>> floods = {
      {"POST /postData HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n", chunk},
      {"POST /postData HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: 200000000\r\n\r\n", chunk},
      {"GET / HTTP/1.1\r\nHost: x\r\n", headerLines},
  };
  for (int round = 0; round < 4; ++round) {
    for (const auto& [head, repeated] : floods) {
      Raw client(server.port());
      client.send(head);
      size_t sent = 0;
      while (sent < 200'000'000 && client.send(repeated)) {
        sent += repeated.size();
      }
      EXPECT_LT(sent, 16'000'000U) << head;
    }
  }
  // Whole requests past the limits, each sent at once: the refusals.
  const std::string smallChunk = "1000\r\n" + std::string(0x1000, 'x') + "\r\n";
  for (const auto& [request, status] : std::vector<std::pair<std::string, std::string>>{
           {"POST /postData HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n" +
                smallChunk + smallChunk + "0\r\n\r\n",
            "HTTP/1.1 413"},
           {"GET / HTTP/1.1\r\nHost: x\r\n" + headerLines.substr(0, headerLines.find("X-Flood-70:")) + "\r\n",
            "HTTP/1.1 431"},
           {"GET / HTTP/1.1\r\nHost: x\r\n" + std::string(40000, 'z') + ": 1\r\n\r\n", "HTTP/1.1 431"},
       }) {
    Raw client(server.port());
    client.send(request);
    EXPECT_EQ(client.receive(2s).substr(0, 12), status) << request.substr(0, 100);
  }
  // Encodings other than chunked are refused, not read to the end.
  Raw gzip(server.port());
  gzip.send("POST /postData HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nTransfer-Encoding: gzip, chunked\r\n\r\n");
  EXPECT_EQ(gzip.receive(2s).substr(0, 12), "HTTP/1.1 501");
  // Figures on this machine (the sanitizer build): about 28 MB before, 30 MB after.
  const long after = residentKilobytes(server.pid());
  std::printf("resident: %ld kB before the floods, %ld kB after\n", before, after);
  EXPECT_LT(after, 64 * 1024);
  EXPECT_EQ(trackerAndPage(server.port(), 1).failed, 0);
}

TEST(Attacks, GuessesAtTheSecretAreSlowedThenLockedOut) {
  auto now = Clock::now();
  RunningServer server({}, [&now] { return now; });
  auto client = server.client();
  const auto login = [&](const std::string& secret) {
    const auto answer = client.Post("/login", "secret=" + secret, "application/x-www-form-urlencoded");
    return answer ? answer->status : 0;
  };
  // Five wrong secrets cost nothing; then each makes the next wait 1, 2,
  // 4, 8 s; the tenth locks the address out for 15 minutes.
  for (int guess = 0; guess < 6; ++guess) {
    EXPECT_EQ(login("guess" + std::to_string(guess)), 401) << guess;
  }
  EXPECT_EQ(login("guess"), 429);
  for (const int wait : {1, 2, 4, 8}) {
    now += std::chrono::seconds(wait) - 1ms;
    EXPECT_EQ(login("guess"), 429) << wait;
    now += 1ms;
    EXPECT_EQ(login("guess"), 401) << wait;
  }
  // Locked: the right secret too, until the lock-out ends.
  EXPECT_EQ(login("correct+horse+battery+staple"), 429);
  now += 15min - 1s;
  EXPECT_EQ(login("correct+horse+battery+staple"), 429);
  now += 1s;
  EXPECT_EQ(login("correct+horse+battery+staple"), 303);

  // A guesser trying every second for three virtual hours: ten guesses
  // checked in each 15 minutes and some 20 seconds: about 40 an hour.
  int checked = 0;
  for (const auto end = now + 3h; now < end; now += 1s) {
    checked += login("guess") == 401 ? 1 : 0;
  }
  std::printf("guesses checked in 3 h from one address: %d\n", checked);
  EXPECT_LE(checked, 3 * 60 / 15 * 10);
  EXPECT_GE(checked, 3 * 60 / 16 * 10);
}

TEST(Attacks, SessionsEndAtTheirLifetime) {
  auto now = Clock::now();
  RunningServer server({}, [&now] { return now; });
  auto client = server.client();
  const auto login = client.Post("/login", "secret=correct+horse+battery+staple", "application/x-www-form-urlencoded");
  ASSERT_EQ(login->status, 303);
  const std::string cookie = login->get_header_value("Set-Cookie");
  EXPECT_EQ(cookie.find("Secure"), std::string::npos);  // plain HTTP here
  const httplib::Headers session = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
  now += 12h;
  EXPECT_EQ(client.Get("/", session)->status, 200);
  now += 1s;
  EXPECT_EQ(client.Get("/", session)->status, 303);
}

TEST(Attacks, AReportFromAWebPageOrWithoutTheTrackersKeyIsRefused) {
  RunningServer server;
  auto client = server.client();
  // What a browser adds to a page's cross-site POST, text/plain included.
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"Origin", "http://evil.example"},
           {"Origin", "null"},
           {"Referer", "http://127.0.0.1:8080/"},
           {"Sec-Fetch-Site", "same-site"},
           {"Sec-Fetch-Mode", "no-cors"}}) {
    const auto answer = client.Post("/postData", {{name, value}}, kReport, "text/plain");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 403) << name;
  }
  EXPECT_EQ(server.store().count(), 0);
  server.routes().requireTrackerKey("a tracker's key 0123456789");
  EXPECT_EQ(client.Post("/postData", kReport, "text/plain")->status, 403);
  EXPECT_EQ(client.Get("/getCircle")->status, 403);
  EXPECT_EQ(client.Post("/postData", {{"X-Tracker-Key", "a tracker's key 012345678"}}, kReport, "text/plain")->status,
            403);
  const httplib::Headers key = {{"X-Tracker-Key", "a tracker's key 0123456789"}};
  EXPECT_EQ(client.Post("/postData", key, kReport, "text/plain")->status, 200);
  EXPECT_EQ(client.Get("/getCircle", key)->body, "@250$");
  EXPECT_EQ(server.store().count(), 1);
}

TEST(Attacks, PipelinedRequestsAreEachAnswered) {
  RunningServer server;
  Raw client(server.port());
  const std::string post = std::string("POST /postData HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n") +
                           "Content-Length: " + std::to_string(std::strlen(kReport)) + "\r\n\r\n" + kReport;
  client.send(post + "GET /getCircle HTTP/1.1\r\nHost: x\r\n\r\n" + post);
  // Three answers, in order, within 5 s.
  const auto answered = [](const std::string& text) {
    size_t count = 0;
    for (size_t at = text.find("HTTP/1.1 200 "); at != std::string::npos; at = text.find("HTTP/1.1 200 ", at + 1)) {
      ++count;
    }
    return count;
  };
  std::string answers;
  for (int wait = 0; wait < 50 && answered(answers) < 3; ++wait) {
    answers += client.receive(100ms);
  }
  EXPECT_EQ(answered(answers), 3U) << answers;
  EXPECT_NE(answers.find("@250$"), std::string::npos) << answers;
  EXPECT_EQ(server.store().count(), 2);
}

TEST(Attacks, AStorageFaultIsAnsweredUnavailableOnEveryPath) {
  RunningServer server;
  auto client = server.client();
  ASSERT_EQ(client.Post("/postData", kReport, "text/plain")->status, 200);
  // The database, its log and index overwritten under the running server.
  for (const char* file : {"reports.sqlite", "reports.sqlite-wal", "reports.sqlite-shm"}) {
    const auto path = server.folder() / "data" / file;
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        << std::string(std::filesystem::file_size(path), '\xFF');
  }
  const auto bearer = server.bearer();
  EXPECT_EQ(client.Get("/getCircle")->status, 503);
  EXPECT_EQ(client.Post("/postData", kReport, "text/plain")->status, 503);
  EXPECT_EQ(client.Get("/", bearer)->status, 503);
  EXPECT_EQ(client.Get("/api/reports", bearer)->status, 503);
  EXPECT_EQ(client.Get("/api/settings", bearer)->status, 503);
  EXPECT_EQ(client.Put("/api/settings", bearer, R"({"radius": 300})", "application/json")->status, 503);
  EXPECT_EQ(client.Post("/settings", bearer, "radius=300", "application/x-www-form-urlencoded")->status, 503);
}

TEST(Attacks, ALogNobodyReadsHoldsNoRequest) {
  Process setup;
  ServerProcess server(setup.folder.path() / "data", setup.secret);
  // The pipe of the log fills after about a thousand lines; nobody reads it.
  httplib::Client client("127.0.0.1", server.port());
  client.set_read_timeout(5);
  int answered = 0;
  for (int request = 0; request < 5000; ++request) {
    const auto answer = client.Get("/getCircle");
    answered += answer && answer->status == 200 ? 1 : 0;
  }
  EXPECT_EQ(answered, 5000);
  // Read at last, the log says how many lines it dropped, and goes on.
  std::string log = server.readFor(500ms);
  ASSERT_TRUE(client.Get("/getCircle?after"));
  EXPECT_EQ(server.stop(SIGTERM), 0);
  log += server.rest();
  EXPECT_NE(log.find(" log lines dropped: the log was not read\n"), std::string::npos) << log.substr(0, 300);
  EXPECT_NE(log.find("GET /getCircle 200\nreport_server: stopped"), std::string::npos);
}

TEST(Attacks, TheServerRefusesAWeakOrExposedSecret) {
  TemporaryFolder folder;
  const auto run = [&](const std::string& secret, std::filesystem::perms mode) {
    const auto file = folder.path() / "secret";
    std::ofstream(file) << secret << "\n";
    std::filesystem::permissions(file, mode);
    const std::string command = std::string(REPORT_SERVER_PATH) + " --listen 127.0.0.1:0 --data " +
                                (folder.path() / "data").string() + " --secret-file " + file.string() + " 2>&1";
    FILE* output = popen(command.c_str(), "r");
    std::string said;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, output) != nullptr) {
      said += buffer;
    }
    const int status = pclose(output);
    return std::pair{WEXITSTATUS(status), said};
  };
  using std::filesystem::perms;
  const auto [shortStatus, shortSaid] = run("fifteen chars..", perms::owner_read | perms::owner_write);
  EXPECT_EQ(shortStatus, 2);
  EXPECT_NE(shortSaid.find("is 15 characters; it must be at least 16"), std::string::npos) << shortSaid;
  const auto [openStatus, openSaid] = run(kSecret, perms::owner_read | perms::owner_write | perms::others_read);
  EXPECT_EQ(openStatus, 2);
  EXPECT_NE(openSaid.find("is readable by others (mode 0604): chmod 600 it"), std::string::npos) << openSaid;
}

}  // namespace
