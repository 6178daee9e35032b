// The report server's routes: the device endpoints the firmware uses (open,
// or behind a per-tracker key), and the caretaker's page, JSON and settings
// (behind the secret or a session opened with it).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "server/access.h"
#include "server/bench_clock.h"
#include "server/http.h"
#include "server/store.h"

namespace server {

// Bodies larger than this are refused before they are read whole.
inline constexpr size_t kLargestBody = 4096;
// The header a tracker built with a key sends it in.
inline constexpr const char* kTrackerKeyHeader = "X-Tracker-Key";

// Which paths a listening address serves: the trackers' face stays plain
// HTTP on the port the firmware knows; the caretaker's may be TLS.
enum class Face { Both, Trackers, Caretaker };

class ReportServer {
 public:
  using Clock = std::function<int64_t()>;  // milliseconds since the Unix epoch

  ReportServer(Store& store, Access& access, Clock clock = {});
  // Trackers then need "X-Tracker-Key: <key>" on both their paths.
  void requireTrackerKey(std::string key) { trackerKey_ = std::move(key); }

  [[nodiscard]] HttpResponse answer(const HttpRequest& request, Face face = Face::Both);

 private:
  HttpResponse route(const HttpRequest& request, Face face);
  HttpResponse postData(const HttpRequest& request);
  HttpResponse getCircle(const HttpRequest& request);
  HttpResponse login(const HttpRequest& request);
  HttpResponse logout(const HttpRequest& request);
  HttpResponse page(const HttpRequest& request);
  HttpResponse centre(const HttpRequest& request);
  HttpResponse settings(const HttpRequest& request);
  HttpResponse reports(const HttpRequest& request);
  HttpResponse apiSettings(const HttpRequest& request);
  [[nodiscard]] bool authorised(const HttpRequest& request);
  [[nodiscard]] bool bearer(const HttpRequest& request) const;
  [[nodiscard]] bool trackerKeyHeld(const HttpRequest& request) const;

  Store& store_;
  Access& access_;
  Clock clock_;
  std::optional<std::string> trackerKey_;
};

// The log's line for a request: "<UTC time> <address> <method> <path>
// <status>", one line of printable ASCII whatever the client sent.
[[nodiscard]] std::string logLine(int64_t milliseconds, const std::string& address, const HttpRequest& request,
                                  int status);

}  // namespace server
