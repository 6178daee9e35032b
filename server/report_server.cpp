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
constexpr const char* kHtml = "text/html; charset=utf-8";

int64_t systemMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

HttpResponse plain(int status, const std::string& text) { return HttpResponse{status, "text/plain", text + "\n", {}}; }

HttpResponse json(const nlohmann::json& value) { return HttpResponse{200, "application/json", value.dump(), {}}; }

HttpResponse seeOther(const std::string& where) { return HttpResponse{303, "", "", {{"Location", where}}}; }

// What every page of the caretaker's carries: nothing runs or is framed
// but what this server sends. (Not "no-referrer": a browser then sends
// "Origin: null" with the page's own forms.)
HttpResponse html(int status, std::string body) {
  return HttpResponse{status,
                      kHtml,
                      std::move(body),
                      {{"Content-Security-Policy",
                        "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                        "img-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
                       {"X-Frame-Options", "DENY"},
                       {"X-Content-Type-Options", "nosniff"},
                       {"Referrer-Policy", "same-origin"},
                       {"Cache-Control", "no-store"}}};
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

// The same bytes, in time that does not depend on where they differ.
bool sameSecret(std::string_view given, std::string_view key) {
  unsigned difference = given.size() == key.size() ? 0U : 1U;
  for (size_t index = 0; index < key.size(); ++index) {
    difference |= static_cast<unsigned char>((index < given.size() ? given[index] : '\0') ^ key[index]);
  }
  return difference == 0;
}

// A browser says where a request comes from; a request another site's
// page made is refused whatever it carries. Tools send neither header.
bool fromAnotherSite(const HttpRequest& request) {
  const std::string site = request.header("Sec-Fetch-Site");
  if (!site.empty() && site != "same-origin" && site != "none") {
    return true;
  }
  const std::string origin = request.header("Origin");
  if (origin.empty()) {
    return false;
  }
  const std::string own = std::string(request.secure ? "https://" : "http://") + request.header("Host");
  return origin != own;
}

bool changesState(const std::string& method) { return method != "GET" && method != "OPTIONS"; }

const std::string kStyleSheet = pageStyle();
const std::string kScript = pageScript();

}  // namespace

ReportServer::ReportServer(Store& store, Access& access, Clock clock)
    : store_(store), access_(access), clock_(clock ? std::move(clock) : Clock(systemMilliseconds)) {}

std::string logLine(int64_t milliseconds, const std::string& address, const HttpRequest& request, int status) {
  return utcText(milliseconds) + " " + address + " " + (request.head ? "HEAD" : loggable(request.method)) + " " +
         loggable(request.path) + " " +
         std::to_string(status);
}

bool ReportServer::bearer(const HttpRequest& request) const {
  return access_.authorises(request.header("Authorization"));
}

bool ReportServer::authorised(const HttpRequest& request) {
  return bearer(request) || access_.hasSession(request.header("Cookie"));
}

bool ReportServer::trackerKeyHeld(const HttpRequest& request) const {
  return !trackerKey_ || sameSecret(request.header(kTrackerKeyHeader), *trackerKey_);
}

HttpResponse ReportServer::answer(const HttpRequest& request, Face face) {
  try {
    return route(request, face);
  } catch (const StorageFault&) {
    return plain(503, "the data could not be read or written; try again");
  }
}

HttpResponse ReportServer::route(const HttpRequest& request, Face face) {
  const std::string& path = request.path;
  const std::string& method = request.method;
  const bool device = path == "/postData" || path == "/getCircle";
  if ((device && face == Face::Caretaker) || (!device && face == Face::Trackers)) {
    return plain(404, "not here");
  }
  if (device) {
    if (path == "/postData" && method == "POST") {
      return postData(request);
    }
    if (path == "/getCircle" && method == "GET") {
      return getCircle(request);
    }
    return plain(405, "not that method");
  }

  // The caretaker's: a form another site's page sends is not the caretaker's.
  if (changesState(method) && fromAnotherSite(request)) {
    return plain(403, "a request from another site's page");
  }
  if (path == "/page.css" && method == "GET") {
    return HttpResponse{200, "text/css", kStyleSheet, {{"Cache-Control", "max-age=3600"}}};
  }
  if (path == "/page.js" && method == "GET") {
    return HttpResponse{200, "text/javascript", kScript, {{"Cache-Control", "max-age=3600"}}};
  }
  if (path == "/login" && method == "GET") {
    return html(200, loginPage(false));
  }
  if (path == "/login" && method == "POST") {
    return login(request);
  }
  if (path == "/" && method == "GET") {
    return page(request);
  }
  if (!authorised(request)) {
    const bool known = path == "/logout" || path == "/centre" || path == "/settings" || path == "/api/reports" ||
                       path == "/api/settings";
    return known ? plain(401, "the caretaker's secret is needed") : plain(404, "no such page");
  }
  // A session's form carries the session's own token; a tool that sends the
  // secret itself needs none.
  if (changesState(method) && !bearer(request)) {
    const std::string expected = access_.formToken(request.header("Cookie"));
    const std::string given = request.parameter("csrf").value_or("");
    if (expected.empty() || !sameSecret(given, expected)) {
      return plain(403, "the form is not this session's; load the page again");
    }
  }
  if (path == "/logout" && method == "POST") {
    return logout(request);
  }
  if (path == "/centre" && method == "POST") {
    return centre(request);
  }
  if (path == "/settings" && method == "POST") {
    return settings(request);
  }
  if (path == "/api/reports" && method == "GET") {
    return reports(request);
  }
  if (path == "/api/settings" && (method == "GET" || method == "PUT")) {
    return apiSettings(request);
  }
  return plain(404, "no such page");
}

HttpResponse ReportServer::postData(const HttpRequest& request) {
  // A tracker is no browser: a browser's request is another site's page
  // posting in the wearer's name.
  for (const char* browser : {"Origin", "Referer", "Sec-Fetch-Site", "Sec-Fetch-Mode", "Sec-Fetch-Dest"}) {
    if (request.hasHeader(browser)) {
      return plain(403, "reports come from trackers, not web pages");
    }
  }
  if (!trackerKeyHeld(request)) {
    return plain(403, std::string("this server needs the tracker's key in ") + kTrackerKeyHeader);
  }
  const std::string type = request.header("Content-Type");
  if (type.substr(0, type.find(';')) != "text/plain") {
    return plain(415, "the report is text/plain");
  }
  const ParsedRecord parsed = parseRecord(request.body);
  if (!parsed.report) {
    return plain(400, parsed.reason);
  }
  int64_t received = clock_();
  if (store_.benchClock()) {
    const std::optional<long long> benchTime = wholeNumber(request.header(kBenchTimeHeader));
    if (!benchTime || *benchTime < 0) {
      return plain(400, std::string("a bench's report carries its virtual time in ") + kBenchTimeHeader);
    }
    received = *benchTime;
  }
  if (!store_.append(*parsed.report, received, request.remoteAddress)) {
    return plain(503, "the report could not be stored");
  }
  return plain(200, "OK");
}

HttpResponse ReportServer::getCircle(const HttpRequest& request) {
  if (!trackerKeyHeld(request)) {
    return plain(403, std::string("this server needs the tracker's key in ") + kTrackerKeyHeader);
  }
  // (Appended piece by piece: GCC 12 warns falsely on "@" + string at -O2.)
  std::string frame(1, '@');
  frame += std::to_string(store_.radius());
  frame += '$';
  return HttpResponse{200, "text/plain", frame, {}};
}

HttpResponse ReportServer::login(const HttpRequest& request) {
  if (const auto wait = access_.loginWait(request.remoteAddress)) {
    HttpResponse slowed = html(429, loginPage(true, wait->count()));
    slowed.headers.emplace_back("Retry-After", std::to_string(wait->count()));
    return slowed;
  }
  if (!access_.isSecret(request.parameter("secret").value_or(""))) {
    access_.loginFailed(request.remoteAddress);
    return html(401, loginPage(true));
  }
  access_.loginSucceeded(request.remoteAddress);
  const long long life = std::chrono::duration_cast<std::chrono::seconds>(Access::kSessionLife).count();
  HttpResponse response = seeOther("/");
  response.headers.emplace_back("Set-Cookie", std::string(Access::kCookie) + "=" + access_.openSession() +
                                                  "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
                                                  std::to_string(life) + (request.secure ? "; Secure" : ""));
  return response;
}

HttpResponse ReportServer::logout(const HttpRequest& request) {
  access_.closeSession(request.header("Cookie"));
  HttpResponse response = seeOther("/login");
  response.headers.emplace_back("Set-Cookie", std::string(Access::kCookie) + "=; Path=/; Max-Age=0" +
                                                  (request.secure ? "; Secure" : ""));
  return response;
}

HttpResponse ReportServer::page(const HttpRequest& request) {
  if (!authorised(request)) {
    return seeOther("/login");
  }
  PageData data{store_.latest(), store_.reportsSince(INT64_MIN, kPageReports), store_.radius(), store_.count(),
                store_.benchClock(), store_.centre(), access_.formToken(request.header("Cookie"))};
  return html(200, wearerPage(data));
}

HttpResponse ReportServer::centre(const HttpRequest& request) {
  const std::string latitude = request.parameter("latitude").value_or("");
  const std::string longitude = request.parameter("longitude").value_or("");
  std::optional<std::pair<double, double>> centre;
  const char* kRange = "the centre is a latitude from -90 to 90 and a longitude from -180 to 180, in degrees";
  if (!latitude.empty() || !longitude.empty()) {
    const auto north = decimalNumber(latitude);
    const auto east = decimalNumber(longitude);
    if (!north || !east || *north < -90 || *north > 90 || *east < -180 || *east > 180) {
      return plain(400, kRange);
    }
    centre = std::pair{*north, *east};
  }
  if (!store_.setCentre(centre)) {
    return plain(503, "the centre could not be stored");
  }
  return seeOther("/");
}

HttpResponse ReportServer::settings(const HttpRequest& request) {
  // Checked as the number it is: 4294967297 must not become 1 on the way.
  const auto radius = wholeNumber(request.parameter("radius").value_or(""));
  if (!radius || *radius < 1 || *radius > 9999) {
    return plain(400, "the radius is a whole number of metres from 1 to 9999");
  }
  if (!store_.setRadius(static_cast<int>(*radius))) {
    return plain(503, "the radius could not be stored");
  }
  return seeOther("/");
}

HttpResponse ReportServer::reports(const HttpRequest& request) {
  const auto sinceText = request.parameter("since");
  const auto limitText = request.parameter("limit");
  const auto since = sinceText ? wholeNumber(*sinceText) : INT64_MIN;
  const auto limit = limitText ? wholeNumber(*limitText) : static_cast<long long>(kLargestReportList);
  if (!since || !limit || *limit < 1 || *limit > static_cast<long long>(kLargestReportList)) {
    return plain(400, "since is milliseconds since 1970, limit 1 to 10000");
  }
  nlohmann::json reports = nlohmann::json::array();
  for (const StoredReport& report : store_.reportsSince(*since, static_cast<size_t>(*limit))) {
    reports.push_back(toJson(report));
  }
  return json(nlohmann::json{{"reports", reports}});
}

HttpResponse ReportServer::apiSettings(const HttpRequest& request) {
  if (request.method == "GET") {
    return json(nlohmann::json{{"radius", store_.radius()}});
  }
  const nlohmann::json settings = nlohmann::json::parse(request.body, nullptr, false);
  const bool wellFormed = !settings.is_discarded() && settings.is_object() && settings.contains("radius") &&
                          settings["radius"].is_number_integer();
  const long long radius = wellFormed ? settings["radius"].get<long long>() : 0;
  if (radius < 1 || radius > 9999) {
    return plain(400, "expected {\"radius\": metres from 1 to 9999}");
  }
  if (!store_.setRadius(static_cast<int>(radius))) {
    return plain(503, "the radius could not be stored");
  }
  return json(nlohmann::json{{"radius", store_.radius()}});
}

}  // namespace server
