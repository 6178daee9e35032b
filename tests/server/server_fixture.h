// A report server in the test process on a free loopback port, over a fresh
// data folder, and clients for it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <httplib.h>

#include "server/access.h"
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
  RunningServer() : store_(std::make_unique<server::Store>(folder_.path() / "data")), access_(kSecret),
                    server_(*store_, access_) {
    port_ = server_.http().bind_to_any_port("127.0.0.1");
    // The socket listens from the bind on: clients may connect at once.
    thread_ = std::thread([this] { server_.http().listen_after_bind(); });
  }
  ~RunningServer() {
    server_.http().stop();
    thread_.join();
  }

  int port() const { return port_; }
  server::Store& store() { return *store_; }
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
  int port_ = 0;
  std::thread thread_;
};

}  // namespace server_test
