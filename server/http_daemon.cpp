#include "server/http_daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace server {

namespace {

using Clock = std::chrono::steady_clock;

// A urlencoded form or query: "a=1&b=two+words"; the library decodes.
void addForm(std::string_view text, Fields& into) {
  for (size_t at = 0; at <= text.size();) {
    const size_t end = std::min(text.find('&', at), text.size());
    std::string pair(text.substr(at, end - at));
    at = end + 1;
    if (pair.empty()) {
      continue;
    }
    std::replace(pair.begin(), pair.end(), '+', ' ');
    const size_t equals = pair.find('=');
    std::string name = pair.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : pair.substr(equals + 1);
    name.resize(MHD_http_unescape(name.data()));
    value.resize(MHD_http_unescape(value.data()));
    into.emplace_back(std::move(name), std::move(value));
  }
}

MHD_Result collect(void* fields, MHD_ValueKind, const char* name, const char* value) {
  static_cast<Fields*>(fields)->emplace_back(name ? name : "", value ? value : "");
  return MHD_YES;
}

std::string addressText(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  char text[INET6_ADDRSTRLEN] = "";
  if (info == nullptr || info->client_addr == nullptr) {
    return text;
  }
  if (info->client_addr->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text, sizeof text);
  } else if (info->client_addr->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

HttpResponse refusal(int status, const std::string& text) {
  return HttpResponse{status, "text/plain", text + "\n", {}};
}

HttpResponse tooLarge(const HttpLimits& limits) {
  return refusal(MHD_HTTP_CONTENT_TOO_LARGE, "a body is at most " + std::to_string(limits.bodyBytes) + " bytes");
}

}  // namespace

// One request as it is read.
struct HttpDaemon::Exchange {
  HttpRequest request;
  bool refused = false;  // answered before its body, which is not kept
  size_t discarded = 0;  // of a body past the limit, answered at its end
};

// Past the body limit, this much more is read and dropped so that the
// client can be told why; past that the connection is cut. (The library
// cannot answer in the middle of an upload.)
constexpr size_t kDiscardedAtMost = 64 * 1024;

HttpDaemon::HttpDaemon(HttpHandler handler, HttpLimits limits)
    : handler_(std::move(handler)), limits_(limits) {}

HttpDaemon::~HttpDaemon() {
  stop();
  if (inProcess_ != nullptr) {
    MHD_stop_daemon(inProcess_);
  }
}

std::optional<int> HttpDaemon::listen(const std::string& address, int port, std::string& error,
                                      const std::optional<TlsFiles>& tls) {
  sockaddr_storage where{};
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC;
  if (inet_pton(AF_INET, address.c_str(), &reinterpret_cast<sockaddr_in*>(&where)->sin_addr) == 1) {
    auto& in = reinterpret_cast<sockaddr_in&>(where);
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<uint16_t>(port));
  } else if (inet_pton(AF_INET6, address.c_str(), &reinterpret_cast<sockaddr_in6*>(&where)->sin6_addr) == 1) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(where);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(static_cast<uint16_t>(port));
    flags |= MHD_USE_IPv6;
  } else {
    error = "not a numeric address: " + address;
    return std::nullopt;
  }
  tls_ = tls;
  secure_ = tls.has_value();
  if (secure_) {
    flags |= MHD_USE_TLS;
  }
  MHD_OptionItem options[] = {
      {MHD_OPTION_SOCK_ADDR, 0, &where},
      {MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(limits_.threads), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(limits_.connections), nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(limits_.connectionsPerAddress), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(limits_.idleSeconds), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits_.connectionBytes), nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpDaemon::completed), this},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&HttpDaemon::notified), this},
      // Last: without TLS they end the list.
      {secure_ ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, secure_ ? tls_->certificatePem.data() : nullptr},
      {secure_ ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, secure_ ? tls_->keyPem.data() : nullptr},
      {MHD_OPTION_END, 0, nullptr},
  };
  daemon_ = MHD_start_daemon(flags, static_cast<uint16_t>(port), nullptr, nullptr, &HttpDaemon::answer, this,
                             MHD_OPTION_ARRAY, options, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    error = "cannot listen on " + address + ":" + std::to_string(port) +
            (secure_ ? " (or the certificate and key are not a PEM pair)" : "");
    return std::nullopt;
  }
  stopping_ = false;
  sweeper_ = std::thread([this] { sweep(); });
  return MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
}

void HttpDaemon::stop() {
  if (daemon_ == nullptr) {
    return;
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  sweeper_.join();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

void HttpDaemon::sweep() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_; })) {
    const auto now = Clock::now();
    for (auto& [connection, socket] : open_) {
      // The library closes the connection when it sees the socket shut.
      if (socket.first >= 0 && now - socket.second > limits_.requestTime) {
        shutdown(socket.first, SHUT_RDWR);
        socket.first = -1;
      }
    }
  }
}

void HttpDaemon::notified(void* self, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
  auto& daemon = *static_cast<HttpDaemon*>(self);
  std::lock_guard lock(daemon.mutex_);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    daemon.open_[connection] = {info != nullptr ? info->connect_fd : -1, Clock::now()};
  } else {
    daemon.open_.erase(connection);
  }
}

void HttpDaemon::completed(void* self, MHD_Connection* connection, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Exchange*>(*state);
  *state = nullptr;
  // The next request on this connection has its own time.
  auto& daemon = *static_cast<HttpDaemon*>(self);
  std::lock_guard lock(daemon.mutex_);
  const auto found = daemon.open_.find(connection);
  if (found != daemon.open_.end() && found->second.first >= 0) {
    found->second.second = Clock::now();
  }
}

MHD_Result HttpDaemon::reply(MHD_Connection* connection, const HttpResponse& response, bool close) {
  MHD_Response* made =
      MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
                                      MHD_RESPMEM_MUST_COPY);
  if (made == nullptr) {
    return MHD_NO;
  }
  if (!response.contentType.empty()) {
    MHD_add_response_header(made, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
  }
  for (const auto& [name, value] : response.headers) {
    MHD_add_response_header(made, name.c_str(), value.c_str());
  }
  if (close) {
    MHD_add_response_header(made, MHD_HTTP_HEADER_CONNECTION, "close");
  }
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), made);
  MHD_destroy_response(made);
  return queued;
}

MHD_Result HttpDaemon::answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                              const char*, const char* upload, size_t* uploadSize, void** state) {
  auto& daemon = *static_cast<HttpDaemon*>(self);
  auto* exchange = static_cast<Exchange*>(*state);
  if (exchange == nullptr) {
    // The headers are in: check them before any body is read.
    auto made = std::make_unique<Exchange>();
    HttpRequest& request = made->request;
    request.method = method;
    if (request.method == "HEAD") {
      request.method = "GET";  // the library leaves the body out
      request.head = true;
    }
    request.path = url;
    request.remoteAddress = addressText(connection);
    request.secure = daemon.secure_;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, collect, &request.headers);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect, &request.parameters);
    *state = made.release();
    exchange = static_cast<Exchange*>(*state);

    std::optional<HttpResponse> refused;
    const std::string encoding = request.header(MHD_HTTP_HEADER_TRANSFER_ENCODING);
    const std::string length = request.header(MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (request.headers.size() > daemon.limits_.headerCount) {
      refused = refusal(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "too many header fields");
    } else if (request.hasHeader(MHD_HTTP_HEADER_TRANSFER_ENCODING) && !sameFieldName(encoding, "chunked")) {
      refused = refusal(MHD_HTTP_NOT_IMPLEMENTED, "the only transfer encoding taken is chunked");
    } else if (request.hasHeader(MHD_HTTP_HEADER_TRANSFER_ENCODING) &&
               request.hasHeader(MHD_HTTP_HEADER_CONTENT_LENGTH)) {
      refused = refusal(MHD_HTTP_BAD_REQUEST, "a length and a transfer encoding: which one?");
    } else if (!length.empty() && (length.size() > 9 || length.find_first_not_of("0123456789") != std::string::npos ||
                                   std::stoul(length) > daemon.limits_.bodyBytes)) {
      refused = tooLarge(daemon.limits_);
    }
    if (refused) {
      exchange->refused = true;
      if (daemon.log_) {
        daemon.log_(request.remoteAddress, request, refused->status);
      }
      return daemon.reply(connection, *refused, true);
    }
    return MHD_YES;
  }

  if (*uploadSize > 0) {
    // A chunked body past the limit: the rest is not kept.
    if (exchange->discarded > 0 ||
        exchange->request.body.size() + *uploadSize > daemon.limits_.bodyBytes) {
      exchange->discarded += *uploadSize;
      exchange->request.body.clear();
      exchange->request.body.shrink_to_fit();
      *uploadSize = 0;
      return exchange->discarded > kDiscardedAtMost ? MHD_NO : MHD_YES;
    }
    if (!exchange->refused) {
      exchange->request.body.append(upload, *uploadSize);
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  if (exchange->refused) {
    return MHD_YES;
  }
  if (exchange->discarded > 0) {
    exchange->refused = true;
    if (daemon.log_) {
      daemon.log_(exchange->request.remoteAddress, exchange->request, MHD_HTTP_CONTENT_TOO_LARGE);
    }
    return daemon.reply(connection, tooLarge(daemon.limits_), true);
  }

  HttpRequest& request = exchange->request;
  const std::string type = request.header(MHD_HTTP_HEADER_CONTENT_TYPE);
  if (sameFieldName(type.substr(0, type.find(';')), "application/x-www-form-urlencoded")) {
    addForm(request.body, request.parameters);
  }
  const HttpResponse response = daemon.handler_(request);
  if (daemon.log_) {
    daemon.log_(request.remoteAddress, request, response.status);
  }
  return daemon.reply(connection, response, false);
}

std::string HttpDaemon::exchange(std::string_view bytes) {
  if (inProcess_ == nullptr) {
    MHD_OptionItem options[] = {
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits_.connectionBytes), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpDaemon::completed), this},
        {MHD_OPTION_END, 0, nullptr},
    };
    inProcess_ = MHD_start_daemon(MHD_USE_NO_LISTEN_SOCKET, 0, nullptr, nullptr, &HttpDaemon::answer, this,
                                  MHD_OPTION_ARRAY, options, MHD_OPTION_END);
    if (inProcess_ == nullptr) {
      return {};
    }
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    return {};
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  if (MHD_add_connection(inProcess_, ends[0], reinterpret_cast<sockaddr*>(&peer), sizeof peer) != MHD_YES) {
    close(ends[1]);
    return {};
  }
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t wrote = write(ends[1], bytes.data() + sent, bytes.size() - sent);
    if (wrote <= 0) {
      break;
    }
    sent += static_cast<size_t>(wrote);
  }
  shutdown(ends[1], SHUT_WR);
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::string answered;
  char buffer[4096];
  // The library answers what it has and closes once the bytes run out.
  for (int round = 0; round < 10000; ++round) {
    MHD_run(inProcess_);
    const ssize_t got = read(ends[1], buffer, sizeof buffer);
    if (got == 0) {
      break;
    }
    if (got > 0) {
      answered.append(buffer, static_cast<size_t>(got));
    }
  }
  close(ends[1]);
  return answered;
}

}  // namespace server
