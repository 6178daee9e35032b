// The report server's routes, one raw HTTP request at a time, read and
// answered in process. The caretaker's secret and a live session's token
// stand in the input as SECRET and SESSION (the dictionary has both), so
// the fuzzer reaches the pages behind them too.
//
// Whatever the request: the answer is a well-formed HTTP response; a report
// is stored exactly when POST /postData is answered 200; without the secret
// or the session nothing but the open routes answers 200 and the radius
// does not change; the radius stays 1 to 9999 and /getCircle tells it.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "fuzz/forked_board.h"
#include "server/access.h"
#include "server/report_server.h"
#include "server/store.h"

namespace {

constexpr char kSecret[] = "caretaker-secret-7";

struct Server {
  std::filesystem::path folder;
  std::unique_ptr<server::Store> store;
  std::unique_ptr<server::Access> access;
  std::unique_ptr<server::ReportServer> routes;
  std::string session;
  std::string logged;  // the last request's log line
};

Server* running = nullptr;

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void check(bool holds, const std::string& what, const std::string& request) {
  if (!holds) {
    fuzz::broken(what + "\n--- request:\n" + request);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The database in memory-backed storage where there is some: every
  // report is committed with a sync.
  const std::filesystem::path base =
      std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
  running = new Server;
  running->folder = base / ("report-server-fuzz-" + std::to_string(getpid()));
  std::filesystem::remove_all(running->folder);
  std::filesystem::create_directories(running->folder);
  running->store = std::make_unique<server::Store>(running->folder);
  running->access = std::make_unique<server::Access>(kSecret);
  running->routes = std::make_unique<server::ReportServer>(*running->store, *running->access, [] { return int64_t{0}; });
  running->session = running->access->openSession();
  running->routes->logTo([](const std::string& line) { running->logged = line; });
  std::atexit([] { std::filesystem::remove_all(running->folder); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string request(reinterpret_cast<const char*>(data), size);
  replaceAll(request, "SECRET", kSecret);
  replaceAll(request, "SESSION", running->session);
  const bool authorised = request.find(kSecret) != std::string::npos ||
                          request.find(running->session) != std::string::npos;

  running->logged.clear();
  const int64_t countBefore = running->store->count();
  const int radiusBefore = running->store->radius();
  const std::string response = running->routes->handle(request);
  const int64_t countAfter = running->store->count();
  const int radius = running->store->radius();

  // A connection closed before its first line ends gets no answer.
  if (response.empty() && request.find('\n') == std::string::npos) {
    check(countAfter == countBefore && radius == radiusBefore, "an unanswered request changed the store", request);
    return 0;
  }
  static const std::regex kStatusLine("^HTTP/1\\.1 ([1-5][0-9][0-9]) [^\r\n]*\r\n");
  std::smatch status;
  check(std::regex_search(response, status, kStatusLine), "no status line in: " + response.substr(0, 200), request);
  const int code = std::stoi(status[1].str());
  const size_t bodyAt = response.find("\r\n\r\n");
  check(bodyAt != std::string::npos, "a response without the end of its headers", request);
  const std::string body = response.substr(bodyAt + 4);
  // The method and path as the router took them, from the server's log
  // line: "<time> <address> <method> <path> <status>", no address here.
  std::string method;
  std::string path;
  if (!running->logged.empty()) {
    const size_t methodAt = running->logged.find("  ") + 2;
    const size_t pathAt = running->logged.find(' ', methodAt) + 1;
    method = running->logged.substr(methodAt, pathAt - 1 - methodAt);
    path = running->logged.substr(pathAt, running->logged.rfind(' ') - pathAt);
  }

  static const std::regex kLength("\r\nContent-Length: ([0-9]+)\r\n", std::regex::icase);
  std::smatch length;
  // A HEAD answer tells the length of the GET's body, without it.
  if (method != "HEAD" &&
      std::regex_search(response.cbegin(), response.cbegin() + static_cast<long>(bodyAt) + 2, length, kLength)) {
    check(std::stoul(length[1].str()) == body.size(), "Content-Length is not the body's size", request);
  }

  check(countAfter == countBefore || countAfter == countBefore + 1, "more than one report stored", request);
  check((countAfter == countBefore + 1) == (code == 200 && method == "POST" && path == "/postData"),
        "a report stored without its 200, or a 200 without the report (" + std::to_string(code) + ")", request);
  check(radius >= 1 && radius <= 9999, "the radius left its range: " + std::to_string(radius), request);
  if (!authorised) {
    const bool open = path == "/postData" || path == "/getCircle" || path == "/login";
    check(code != 200 || open, "a caretaker's route answered 200 without the secret: " + path, request);
    check(radius == radiusBefore, "the radius changed without the secret", request);
    check(response.find("Set-Cookie: session=" + running->session) == std::string::npos,
          "a session handed out without the secret", request);
  }
  if (code == 200 && path == "/getCircle") {
    check(method != "GET" || body == "@" + std::to_string(radius) + "$", "the radius frame is " + body, request);
  }
  return 0;
}
