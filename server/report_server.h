// The report server's routes: the device endpoints the firmware uses (open:
// it cannot authenticate), and the caretaker's page, JSON and settings
// (behind the secret or a session opened with it).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <httplib.h>

#include "server/access.h"
#include "server/bench_clock.h"
#include "server/store.h"

namespace server {

// Bodies larger than this are refused before they are read whole.
inline constexpr size_t kLargestBody = 4096;

// The HTTP server, which can also take one request from its bytes and give
// the response's bytes, with no socket (for fuzzing the routes).
class HttpServer : public httplib::Server {
 public:
  std::string handle(std::string_view request);
};

class ReportServer {
 public:
  using Clock = std::function<int64_t()>;  // milliseconds since the Unix epoch

  ReportServer(Store& store, Access& access, Clock clock = {});
  httplib::Server& http() { return http_; }
  // One request, read and answered in this process.
  std::string handle(std::string_view request) { return http_.handle(request); }
  // One line per request.
  void logTo(std::function<void(const std::string&)> sink);

 private:
  void routes();
  [[nodiscard]] bool authorised(const httplib::Request& request);

  Store& store_;
  Access& access_;
  Clock clock_;
  HttpServer http_;
};

}  // namespace server
