#include "server/report_server.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "server/page.h"
#include "server/report_record.h"

namespace server {

namespace {

constexpr size_t kPageReports = 500;
constexpr size_t kLargestReportList = 10000;

int64_t systemMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void plain(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain");
}

nlohmann::json toJson(const StoredReport& report) {
  nlohmann::json entry = {{"id", report.id},
                          {"received", report.receivedMs},
                          {"sender", report.sender},
                          {"pulse", report.pulse},
                          {"latitude", nullptr},
                          {"longitude", nullptr}};
  if (report.latitude) {
    entry["latitude"] = *report.latitude;
    entry["longitude"] = *report.longitude;
  }
  return entry;
}

// A whole decimal number and nothing else.
std::optional<long long> wholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 18) {
    return std::nullopt;
  }
  size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) {
    return std::nullopt;
  }
  for (size_t index = at; index < text.size(); ++index) {
    if (text[index] < '0' || text[index] > '9') {
      return std::nullopt;
    }
  }
  return std::stoll(text);
}

// A decimal number of degrees: digits, an optional sign and point, nothing else.
std::optional<double> decimalNumber(const std::string& text) {
  if (text.empty() || text.size() > 16 ||
      text.find_first_not_of("+-.0123456789") != std::string::npos) {
    return std::nullopt;
  }
  size_t used = 0;
  try {
    const double value = std::stod(text, &used);
    return used == text.size() ? std::optional<double>(value) : std::nullopt;
  } catch (const std::logic_error&) {
    return std::nullopt;
  }
}

// A client's text for the log, one line of printable ASCII: a decoded path
// may hold line feeds (forged log lines) or escape codes (for the terminal
// that shows the log); each such byte is written %XX, as in a URL.
std::string loggable(const std::string& text) {
  std::string line;
  for (const unsigned char byte : text) {
    if (byte < 0x20 || byte >= 0x7F || byte == '%') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      line += escaped;
    } else {
      line += static_cast<char>(byte);
    }
  }
  return line;
}

void seeOther(httplib::Response& response, const std::string& where) {
  response.status = 303;
  response.set_header("Location", where);
}

}  // namespace

std::string HttpServer::handle(std::string_view request) {
  httplib::detail::BufferStream stream;
  stream.write(request.data(), request.size());
  bool closed = false;
  process_request(stream, true, closed, nullptr);
  // The stream holds the request, then what was written after it.
  return stream.get_buffer().substr(request.size());
}

ReportServer::ReportServer(Store& store, Access& access, Clock clock)
    : store_(store), access_(access), clock_(clock ? std::move(clock) : Clock(systemMilliseconds)) {
  http_.set_payload_max_length(kLargestBody);
  // Answers go out at once, not held back for a delayed acknowledgement.
  http_.set_tcp_nodelay(true);
  routes();
}

void ReportServer::logTo(std::function<void(const std::string&)> sink) {
  http_.set_logger([sink = std::move(sink)](const httplib::Request& request, const httplib::Response& response) {
    sink(utcText(systemMilliseconds()) + " " + request.remote_addr + " " + loggable(request.method) + " " +
         loggable(request.path) + " " + std::to_string(response.status));
  });
}

bool ReportServer::authorised(const httplib::Request& request) {
  return access_.authorises(request.get_header_value("Authorization")) ||
         access_.hasSession(request.get_header_value("Cookie"));
}

void ReportServer::routes() {
  // The device's endpoints.
  http_.Post("/postData", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string type = request.get_header_value("Content-Type");
    if (type.substr(0, type.find(';')) != "text/plain") {
      plain(response, 415, "the report is text/plain");
      return;
    }
    const ParsedRecord parsed = parseRecord(request.body);
    if (!parsed.report) {
      plain(response, 400, parsed.reason);
      return;
    }
    int64_t received = clock_();
    if (store_.benchClock()) {
      const std::optional<long long> benchTime = wholeNumber(request.get_header_value(kBenchTimeHeader));
      if (!benchTime || *benchTime < 0) {
        plain(response, 400, std::string("a bench's report carries its virtual time in ") + kBenchTimeHeader);
        return;
      }
      received = *benchTime;
    }
    if (!store_.append(*parsed.report, received, request.remote_addr)) {
      plain(response, 503, "the report could not be stored");
      return;
    }
    plain(response, 200, "OK");
  });
  http_.Get("/getCircle", [this](const httplib::Request&, httplib::Response& response) {
    // (Appended piece by piece: GCC 12 warns falsely on "@" + string at -O2.)
    std::string frame(1, '@');
    frame += std::to_string(store_.radius());
    frame += '$';
    response.set_content(frame, "text/plain");
  });

  // The caretaker's page.
  http_.Get("/login", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(loginPage(false), "text/html; charset=utf-8");
  });
  http_.Post("/login", [this](const httplib::Request& request, httplib::Response& response) {
    if (!access_.isSecret(request.get_param_value("secret"))) {
      response.status = 401;
      response.set_content(loginPage(true), "text/html; charset=utf-8");
      return;
    }
    const long long life = std::chrono::duration_cast<std::chrono::seconds>(Access::kSessionLife).count();
    response.set_header("Set-Cookie", std::string(Access::kCookie) + "=" + access_.openSession() +
                                          "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + std::to_string(life));
    seeOther(response, "/");
  });
  http_.Post("/logout", [this](const httplib::Request& request, httplib::Response& response) {
    access_.closeSession(request.get_header_value("Cookie"));
    response.set_header("Set-Cookie", std::string(Access::kCookie) + "=; Path=/; Max-Age=0");
    seeOther(response, "/login");
  });
  http_.Get("/", [this](const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request)) {
      seeOther(response, "/login");
      return;
    }
    PageData data{store_.latest(), store_.reportsSince(INT64_MIN, kPageReports), store_.radius(), store_.count(),
                  store_.benchClock(), store_.centre()};
    response.set_header("Cache-Control", "no-store");
    response.set_content(wearerPage(data), "text/html; charset=utf-8");
  });
  http_.Post("/centre", [this](const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request)) {
      plain(response, 401, "the caretaker's secret is needed");
      return;
    }
    const std::string latitude = request.get_param_value("latitude");
    const std::string longitude = request.get_param_value("longitude");
    std::optional<std::pair<double, double>> centre;
    if (!latitude.empty() || !longitude.empty()) {
      const auto north = decimalNumber(latitude);
      const auto east = decimalNumber(longitude);
      if (!north || !east) {
        plain(response, 400, "the centre is a latitude from -90 to 90 and a longitude from -180 to 180, in degrees");
        return;
      }
      centre = std::pair{*north, *east};
    }
    if (!store_.setCentre(centre)) {
      plain(response, 400, "the centre is a latitude from -90 to 90 and a longitude from -180 to 180, in degrees");
      return;
    }
    seeOther(response, "/");
  });
  http_.Post("/settings", [this](const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request)) {
      plain(response, 401, "the caretaker's secret is needed");
      return;
    }
    // Checked as the number it is: 4294967297 must not become 1 on the way.
    const auto radius = wholeNumber(request.get_param_value("radius"));
    if (!radius || *radius < 1 || *radius > 9999 || !store_.setRadius(static_cast<int>(*radius))) {
      plain(response, 400, "the radius is a whole number of metres from 1 to 9999");
      return;
    }
    seeOther(response, "/");
  });

  // The same data as JSON, for the page and for other tools.
  http_.Get("/api/reports", [this](const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request)) {
      plain(response, 401, "the caretaker's secret is needed");
      return;
    }
    const auto since = request.has_param("since") ? wholeNumber(request.get_param_value("since")) : INT64_MIN;
    const auto limit = request.has_param("limit") ? wholeNumber(request.get_param_value("limit"))
                                                  : static_cast<long long>(kLargestReportList);
    if (!since || !limit || *limit < 1 || *limit > static_cast<long long>(kLargestReportList)) {
      plain(response, 400, "since is milliseconds since 1970, limit 1 to 10000");
      return;
    }
    nlohmann::json reports = nlohmann::json::array();
    for (const StoredReport& report : store_.reportsSince(*since, static_cast<size_t>(*limit))) {
      reports.push_back(toJson(report));
    }
    response.set_content(nlohmann::json{{"reports", reports}}.dump(), "application/json");
  });
  http_.Get("/api/settings", [this](const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request)) {
      plain(response, 401, "the caretaker's secret is needed");
      return;
    }
    response.set_content(nlohmann::json{{"radius", store_.radius()}}.dump(), "application/json");
  });
  http_.Put("/api/settings", [this](const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request)) {
      plain(response, 401, "the caretaker's secret is needed");
      return;
    }
    const nlohmann::json settings = nlohmann::json::parse(request.body, nullptr, false);
    const bool wellFormed = !settings.is_discarded() && settings.is_object() && settings.contains("radius") &&
                            settings["radius"].is_number_integer();
    const long long radius = wellFormed ? settings["radius"].get<long long>() : 0;
    if (radius < 1 || radius > 9999 || !store_.setRadius(static_cast<int>(radius))) {
      plain(response, 400, "expected {\"radius\": metres from 1 to 9999}");
      return;
    }
    response.set_content(nlohmann::json{{"radius", store_.radius()}}.dump(), "application/json");
  });
}

}  // namespace server
