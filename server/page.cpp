#include "server/page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace server {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMetresPerDegree = 111189.57696;  // the tracker's own sphere
constexpr double kCanvas = 600;
constexpr double kHalf = kCanvas / 2;

std::string number(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

const char* kStyleLink = "<link rel=\"stylesheet\" href=\"/page.css\">";

const char* kStyle = R"(body { font-family: sans-serif; margin: 1.5em; color: #222; }
section { margin-bottom: 1.2em; }
table { border-collapse: collapse; }
td, th { border: 1px solid #bbb; padding: 0.2em 0.6em; text-align: right; }
svg { border: 1px solid #bbb; background: #fafaf5; }
.muted { color: #777; }
)";

// New reports, through the same JSON the other tools read, reload the page.
const char* kScript = R"(const reports = document.getElementById('reports');
if (reports) {
  const since = reports.dataset.since;
  setInterval(async () => {
    const answer = await fetch('/api/reports?since=' + since);
    if (answer.ok && (await answer.json()).reports.length > 0) location.reload();
  }, 10000);
}
)";

// Every form of a session carries its token.
std::string tokenField(const std::string& token) {
  return "<input type=\"hidden\" name=\"csrf\" value=\"" + escapeHtml(token) + "\">";
}

// The longest 1, 2 or 5 times a power of ten that fits.
double niceLength(double most) {
  double power = std::pow(10.0, std::floor(std::log10(most)));
  for (double step : {5.0, 2.0, 1.0}) {
    if (step * power <= most) {
      return step * power;
    }
  }
  return power / 2;
}

}  // namespace

std::string escapeHtml(const std::string& text) {
  std::string escaped;
  for (char character : text) {
    switch (character) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += character;
    }
  }
  return escaped;
}

std::string utcText(int64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

std::string pageStyle() { return kStyle; }
std::string pageScript() { return kScript; }

std::string loginPage(bool failed, long long waitSeconds) {
  const std::string refusal =
      waitSeconds > 0 ? "<p id=\"login-failed\">Too many wrong secrets from here: try again in " +
                            std::to_string(waitSeconds) + " s.</p>"
      : failed ? "<p id=\"login-failed\">That is not the caretaker's secret.</p>"
               : "";
  return std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>Tracker: sign in</title>") +
         kStyleLink + "</head><body><h1>Tracker</h1>" + refusal +
         "<form id=\"login\" method=\"post\" action=\"/login\"><label>Caretaker's secret "
         "<input id=\"secret\" name=\"secret\" type=\"password\" autocomplete=\"current-password\"></label> "
         "<button id=\"sign-in\" type=\"submit\">Sign in</button></form></body></html>";
}

std::string trackSvg(const std::vector<StoredReport>& reports, int radius) {
  return trackSvg(reports, std::vector<int>{radius});
}

std::string trackSvg(const std::vector<StoredReport>& reports, const std::vector<int>& radii,
                     std::optional<std::pair<double, double>> centre) {
  const int radius = radii.empty() ? 0 : *std::max_element(radii.begin(), radii.end());
  std::vector<std::pair<double, double>> points;  // metres east, north of the centre
  for (const StoredReport& report : reports) {
    if (!report.latitude) {
      continue;
    }
    if (!centre) {
      centre = {*report.latitude, *report.longitude};
    }
    const double east = (*report.longitude - centre->second) * kMetresPerDegree * std::cos(centre->first * kPi / 180);
    const double north = (*report.latitude - centre->first) * kMetresPerDegree;
    points.emplace_back(east, north);
  }
  std::string svg = "<svg id=\"track\" xmlns=\"http://www.w3.org/2000/svg\" width=\"600\" height=\"600\" viewBox=\"0 0 600 600\" "
                    "role=\"img\" aria-label=\"Track and geofence\">";
  if (points.empty()) {
    return svg + "<text x=\"300\" y=\"300\" text-anchor=\"middle\" class=\"muted\">No position yet</text></svg>";
  }
  double extent = radius * 1.15;
  for (const auto& [east, north] : points) {
    extent = std::max({extent, std::fabs(east) * 1.1, std::fabs(north) * 1.1});
  }
  const double scale = (kHalf - 20) / extent;  // pixels a metre
  auto x = [scale](double east) { return number(kHalf + east * scale, 1); };
  auto y = [scale](double north) { return number(kHalf - north * scale, 1); };
  // The last radius solid, those before it dashed.
  for (size_t index = 0; index < radii.size(); ++index) {
    const bool last = index + 1 == radii.size();
    svg += "<circle " + std::string(last ? "id=\"geofence\" " : "class=\"earlier-geofence\" ") +
           "cx=\"300\" cy=\"300\" r=\"" + number(radii[index] * scale, 1) + "\" fill=\"" +
           (last ? "#4a90d922" : "none") + "\" stroke=\"#4a90d9\" stroke-width=\"2\"" +
           (last ? "" : " stroke-dasharray=\"6 4\"") + "/>";
  }
  svg += "<polyline id=\"path\" fill=\"none\" stroke=\"#d0451b\" stroke-width=\"2\" points=\"";
  for (const auto& [east, north] : points) {
    svg += x(east) + "," + y(north) + " ";
  }
  svg += "\"/>";
  svg += "<circle id=\"centre\" cx=\"300\" cy=\"300\" r=\"3\" fill=\"#4a90d9\"/>";
  const auto& [lastEast, lastNorth] = points.back();
  svg += "<circle id=\"last\" cx=\"" + x(lastEast) + "\" cy=\"" + y(lastNorth) + "\" r=\"6\" fill=\"#d0451b\"/>";
  // North up, and a scale bar of a round length.
  svg += "<g id=\"north\"><path d=\"M 570 50 L 560 75 L 570 68 L 580 75 Z\" fill=\"#222\"/>"
         "<text x=\"570\" y=\"42\" text-anchor=\"middle\">N</text></g>";
  const double bar = niceLength(extent / 2);
  const std::string label = bar >= 1000 ? number(bar / 1000, bar >= 10000 ? 0 : 1) + " km" : number(bar, 0) + " m";
  const double barPixels = bar * scale;
  svg += "<g id=\"scale\"><path d=\"M 20 580 L 20 585 L " + number(20 + barPixels, 1) + " 585 L " +
         number(20 + barPixels, 1) + " 580\" fill=\"none\" stroke=\"#222\" stroke-width=\"2\"/>"
         "<text x=\"20\" y=\"572\">" + label + "</text></g>";
  return svg + "</svg>";
}

namespace {

// "0:05:04.145 into the run"
std::string benchText(int64_t milliseconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld into the run",
                static_cast<long long>(milliseconds / 3600000), static_cast<long long>(milliseconds / 60000 % 60),
                static_cast<long long>(milliseconds / 1000 % 60), static_cast<long long>(milliseconds % 1000));
  return text;
}

}  // namespace

std::string wearerPage(const PageData& data) {
  const auto timeText = [&](int64_t milliseconds) {
    return data.benchClock ? benchText(milliseconds) : utcText(milliseconds);
  };
  std::string page = std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>Tracker</title>") + kStyleLink +
                     "</head><body><h1>Tracker</h1><section id=\"latest\">";
  if (data.latest) {
    const StoredReport& last = *data.latest;
    page += "<p>Latest report: ";
    page += last.latitude ? "<b id=\"latest-position\">" + number(*last.latitude, 6) + ", " + number(*last.longitude, 6) + "</b>"
                          : "<b id=\"latest-position\">no position yet</b>";
    page += ", pulse <b id=\"latest-pulse\">" + std::to_string(last.pulse) + "</b>, received <span id=\"latest-time\">" +
            timeText(last.receivedMs) + "</span> from " + escapeHtml(last.sender) + ".</p>";
  } else {
    page += "<p>No report yet.</p>";
  }
  if (data.benchClock) {
    page += "<p id=\"bench-clock\" class=\"muted\">A bench run's reports: times are its virtual time, from the "
            "run's start.</p>";
  }
  page += "</section><section>" + trackSvg(data.recent, {data.radius}, data.centre);
  page += data.centre ? "<p id=\"centre-shown\" class=\"muted\">The circle is drawn around the centre set here, " +
                            number(data.centre->first, 6) + ", " + number(data.centre->second, 6) + ".</p>"
                      : std::string("<p id=\"centre-shown\" class=\"muted\">The circle is drawn around the first "
                                    "position shown. The tracker's own centre is its first fix after it starts (or the "
                                    "one it was built with); set it here to draw that one.</p>");
  page += "<form id=\"centre-form\" method=\"post\" action=\"/centre\">" + tokenField(data.formToken) + "<label>Centre latitude <input "
          "id=\"centre-latitude\" name=\"latitude\" inputmode=\"decimal\" value=\"" +
          (data.centre ? number(data.centre->first, 6) : std::string()) +
          "\"></label> <label>longitude <input id=\"centre-longitude\" name=\"longitude\" inputmode=\"decimal\" "
          "value=\"" + (data.centre ? number(data.centre->second, 6) : std::string()) +
          "\"></label> <button id=\"set-centre\" type=\"submit\">Set centre</button> (both empty: the first "
          "position)</form></section>";
  page += "<section><form id=\"radius-form\" method=\"post\" action=\"/settings\">" + tokenField(data.formToken) +
          "<label>Geofence radius (m) "
          "<input id=\"radius\" name=\"radius\" type=\"number\" min=\"1\" max=\"9999\" value=\"" +
          std::to_string(data.radius) + "\"></label> <button id=\"set-radius\" type=\"submit\">Set radius</button>"
          "</form></section>";
  page += "<section><h2>Reports</h2><p class=\"muted\">" + std::to_string(data.total) +
          " in all; the latest " + std::to_string(data.recent.size()) + " shown.</p>"
          "<table id=\"reports\" data-since=\"" + std::to_string(data.latest ? data.latest->receivedMs : 0) +
          "\"><tr><th>Received</th><th>Latitude</th><th>Longitude</th><th>Pulse</th><th>From</th></tr>";
  for (auto report = data.recent.rbegin(); report != data.recent.rend(); ++report) {
    page += "<tr><td>" + timeText(report->receivedMs) + "</td><td>" +
            (report->latitude ? number(*report->latitude, 6) : "") + "</td><td>" +
            (report->longitude ? number(*report->longitude, 6) : "") + "</td><td>" + std::to_string(report->pulse) +
            "</td><td>" + escapeHtml(report->sender) + "</td></tr>";
  }
  page += "</table></section><form method=\"post\" action=\"/logout\">" + tokenField(data.formToken) +
          "<button>Sign out</button></form><script src=\"/page.js\"></script>";
  return page + "</body></html>";
}

}  // namespace server
