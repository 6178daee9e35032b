// A report server in the test process on a free loopback port, over a fresh
// data folder, and clients for it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <stdexcept>

#include <httplib.h>

#include "server/access.h"
#include "server/http_daemon.h"
#include "server/report_server.h"
#include "server/store.h"

namespace server_test {

inline constexpr const char* kSecret = "correct horse battery staple";

// A folder of its own under the system's temporary folder, removed after.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "report-server-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TemporaryFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class RunningServer {
 public:
  explicit RunningServer(server::HttpLimits limits = {}, server::Access::Clock clock = {})
      : store_(std::make_unique<server::Store>(folder_.path() / "data")), access_(kSecret, std::move(clock)),
        server_(*store_, access_),
        daemon_([this](const server::HttpRequest& request) { return server_.answer(request); }, limits) {
    std::string error;
    port_ = daemon_.listen("127.0.0.1", 0, error).value_or(0);
    if (port_ == 0) {
      throw std::runtime_error(error);
    }
  }

  int port() const { return port_; }
  server::Store& store() { return *store_; }
  server::ReportServer& routes() { return server_; }
  const std::filesystem::path& folder() const { return folder_.path(); }
  server::HttpDaemon& daemon() { return daemon_; }
  // A client whose waits are bounded.
  httplib::Client client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    client.set_write_timeout(5);
    return client;
  }
  httplib::Headers bearer(const std::string& secret = kSecret) const {
    return {{"Authorization", "Bearer " + secret}};
  }

 private:
  TemporaryFolder folder_;
  std::unique_ptr<server::Store> store_;
  server::Access access_;
  server::ReportServer server_;
  server::HttpDaemon daemon_;
  int port_ = 0;
};

}  // namespace server_test
