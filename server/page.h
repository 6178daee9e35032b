// The caretaker's pages: the login form, and the wearer's page with the
// latest report, the track and the geofence circle drawn as SVG (no map
// tiles: the machines have no internet), the reports and the radius form.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "server/store.h"

namespace server {

// After a wrong secret; with the seconds to wait when attempts are slowed.
[[nodiscard]] std::string loginPage(bool failed, long long waitSeconds = 0);
// What the pages load: their style sheet and the script that polls for
// new reports (nothing inline, so the policy can forbid inline code).
[[nodiscard]] std::string pageStyle();
[[nodiscard]] std::string pageScript();

struct PageData {
  std::optional<StoredReport> latest;
  std::vector<StoredReport> recent;  // oldest first
  int radius;
  int64_t total;
  bool benchClock = false;  // times are a bench run's virtual time
  std::optional<std::pair<double, double>> centre;  // the caretaker's, for drawing the circle
  std::string formToken;  // the session's, in every form
};
[[nodiscard]] std::string wearerPage(const PageData& data);

// The track as SVG, north up, with the circle around its first position and
// a scale bar.
[[nodiscard]] std::string trackSvg(const std::vector<StoredReport>& reports, int radius);
// With a circle for each radius, in the order they were held: the last
// solid, the earlier ones dashed; the view holds the largest.
// Around centre (latitude, longitude) when given, else the first position.
[[nodiscard]] std::string trackSvg(const std::vector<StoredReport>& reports, const std::vector<int>& radii,
                                   std::optional<std::pair<double, double>> centre = std::nullopt);

// "2026-12-08 10:00:00 UTC"
[[nodiscard]] std::string utcText(int64_t milliseconds);
[[nodiscard]] std::string escapeHtml(const std::string& text);

}  // namespace server
