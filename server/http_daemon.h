// The HTTP layer on the internet: libmicrohttpd, event-driven (epoll), so a
// client that sends slowly or not at all holds a socket and a little memory,
// never a worker. Every request is bounded in header size and count, body
// size on any transfer encoding, time without a byte and time in all.
#pragma once

#include <microhttpd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "server/http.h"

namespace server {

struct HttpLimits {
  size_t bodyBytes = 4096;
  size_t headerCount = 64;
  // The request line and headers, and the buffers of one connection.
  size_t connectionBytes = 32 * 1024;
  unsigned connections = 4000;
  unsigned connectionsPerAddress = 0;  // none: a carrier's trackers share addresses
  unsigned idleSeconds = 10;
  std::chrono::seconds requestTime{30};  // from the first byte to the last of the answer
  unsigned threads = 4;
};

struct TlsFiles {
  std::string certificatePem;
  std::string keyPem;
};

class HttpDaemon {
 public:
  HttpDaemon(HttpHandler handler, HttpLimits limits = {});
  ~HttpDaemon();
  HttpDaemon(const HttpDaemon&) = delete;
  HttpDaemon& operator=(const HttpDaemon&) = delete;

  // Listens on a numeric address; port 0 takes any free port. The port, or
  // nothing with the reason in error.
  std::optional<int> listen(const std::string& address, int port, std::string& error,
                            const std::optional<TlsFiles>& tls = std::nullopt);
  // Closes every connection; returns within the time a handler takes.
  void stop();

  // One connection's bytes in, all the server sent back out, with no network
  // (for fuzzing the parser and the routes together).
  std::string exchange(std::string_view bytes);

  // One line per request answered: the address, method, path and status.
  using Log = std::function<void(const std::string& address, const HttpRequest&, int status)>;
  void logTo(Log log) { log_ = std::move(log); }

  const HttpLimits& limits() const { return limits_; }

 private:
  struct Exchange;
  static MHD_Result answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                           const char* version, const char* upload, size_t* uploadSize, void** state);
  static void completed(void* self, MHD_Connection* connection, void** state, MHD_RequestTerminationCode code);
  static void notified(void* self, MHD_Connection* connection, void** socketState, MHD_ConnectionNotificationCode code);
  MHD_Result reply(MHD_Connection* connection, const HttpResponse& response, bool close);
  void sweep();

  HttpHandler handler_;
  HttpLimits limits_;
  Log log_;
  MHD_Daemon* daemon_ = nullptr;
  MHD_Daemon* inProcess_ = nullptr;
  std::optional<TlsFiles> tls_;  // kept: the daemon reads them while it runs
  bool secure_ = false;

  // Each open connection's socket and when its request began: the sweeper
  // shuts those past their time (the library's own limit is for idleness).
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<MHD_Connection*, std::pair<int, std::chrono::steady_clock::time_point>> open_;
  std::thread sweeper_;
};

}  // namespace server
