// The report server's routes, one raw HTTP request at a time, read and
// answered in process. The caretaker's secret and a live session's token
// stand in the input as SECRET and SESSION (the dictionary has both), so
// the fuzzer reaches the pages behind them too.
//
// Whatever the requests: each answer is a well-formed HTTP response; a
// report is stored for each POST /postData answered 200; without the secret
// or the session nothing but the open routes answers 200 and the radius
// does not change; the radius stays 1 to 9999 and /getCircle tells it.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/forked_board.h"
#include "server/access.h"
#include "server/http_daemon.h"
#include "server/report_server.h"
#include "server/store.h"

namespace {

constexpr char kSecret[] = "caretaker-secret-7";

struct Server {
  std::filesystem::path folder;
  std::unique_ptr<server::Store> store;
  std::unique_ptr<server::Access> access;
  std::unique_ptr<server::ReportServer> routes;
  std::unique_ptr<server::HttpDaemon> http;
  std::string session;
  std::vector<std::tuple<std::string, std::string, bool>> logged;  // method, path, HEAD
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
  running->http = std::make_unique<server::HttpDaemon>(
      [](const server::HttpRequest& request) { return running->routes->answer(request); });
  running->http->logTo([](const std::string&, const server::HttpRequest& request, int) {
    running->logged.emplace_back(request.method, request.path, request.head);
  });
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
  const std::string response = running->http->exchange(request);
  const int64_t countAfter = running->store->count();
  const int radius = running->store->radius();
  check(radius >= 1 && radius <= 9999, "the radius left its range: " + std::to_string(radius), request);

  // The input may hold several requests: each the routes answered is
  // logged, and answered in that order; one the library refused itself
  // ends the connection, so its answer comes last. A connection closed
  // before its headers end may get no answer.
  static const std::regex kStatusLine("^HTTP/1\\.1 ([1-5][0-9][0-9]) [^\r\n]*\r\n");
  static const std::regex kLength("\r\nContent-Length: ([0-9]+)\r\n", std::regex::icase);
  int64_t storedAnswers = 0;
  size_t at = 0;
  for (size_t index = 0; at < response.size(); ++index) {
    const std::string rest = response.substr(at);
    std::smatch status;
    check(std::regex_search(rest, status, kStatusLine), "no status line in: " + rest.substr(0, 200), request);
    const int code = std::stoi(status[1].str());
    const size_t bodyAt = rest.find("\r\n\r\n");
    check(bodyAt != std::string::npos, "a response without the end of its headers", request);
    const std::string headers = rest.substr(0, bodyAt + 2);
    const bool routed = index < running->logged.size();
    if (!routed) {
      // The library's own refusal, and the last. (Debian 12's library
      // writes the header of some of these twice: its fault, not ours.)
      check(code >= 400, "an answer the routes did not give: " + std::to_string(code), request);
      break;
    }
    std::smatch length;
    check(std::regex_search(headers, length, kLength), "a response without its Content-Length", request);
    const auto& [method, path, head] = running->logged[index];
    // A HEAD answer tells the length of the GET's body, without it.
    const size_t bodySize = head ? 0 : std::stoul(length[1].str());
    check(bodyAt + 4 + bodySize <= rest.size(), "Content-Length is past the body's end", request);
    const std::string body = rest.substr(bodyAt + 4, bodySize);
    at += bodyAt + 4 + bodySize;

    storedAnswers += code == 200 && method == "POST" && path == "/postData" ? 1 : 0;
    if (!authorised) {
      const bool open = path == "/postData" || path == "/getCircle" || path == "/login" || path == "/page.css" ||
                        path == "/page.js";
      check(code != 200 || open, "a caretaker's route answered 200 without the secret: " + path, request);
      check(headers.find("Set-Cookie: session=" + running->session) == std::string::npos,
            "a session handed out without the secret", request);
    }
    if (code == 200 && path == "/getCircle" && method == "GET" && !head) {
      check(body == "@" + std::to_string(running->store->radius()) + "$" || authorised, "the radius frame is " + body,
            request);
    }
  }
  check(countAfter - countBefore == storedAnswers,
        "reports stored: " + std::to_string(countAfter - countBefore) + ", answered 200: " +
            std::to_string(storedAnswers),
        request);
  if (!authorised) {
    check(radius == radiusBefore, "the radius changed without the secret", request);
  }
  return 0;
}
