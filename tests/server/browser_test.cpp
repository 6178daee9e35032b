// The caretaker's page in a real browser: headless Chromium driven through
// ChromeDriver's WebDriver protocol signs in, finds the reports and the
// track, and sets the radius through the form. A screenshot of the page is
// kept as an artefact of the build.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "tests/server/server_fixture.h"

namespace {

using namespace server_test;
using nlohmann::json;

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromeDriver = "/usr/bin/chromedriver";
constexpr const char* kElement = "element-6066-11e4-a52e-4f735466cecf";

// A port nobody listens on now, from the kernel.
int freePort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(probe);
    return 0;
  }
  close(probe);
  return ntohs(address.sin_port);
}

std::vector<unsigned char> fromBase64(const std::string& text) {
  std::vector<unsigned char> bytes;
  unsigned value = 0;
  int bits = 0;
  for (char character : text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* found = std::strchr(digits, character);
    if (character == '=' || found == nullptr || character == '\0') {
      continue;
    }
    value = (value << 6) | static_cast<unsigned>(found - digits);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<unsigned char>((value >> bits) & 0xFF));
    }
  }
  return bytes;
}

// ChromeDriver in a process of its own, and one browser session in it.
class Browser {
 public:
  Browser() : port_(freePort()) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string port = "--port=" + std::to_string(port_);
      execl(kChromeDriver, "chromedriver", port.c_str(), "--silent", static_cast<char*>(nullptr));
      _exit(127);
    }
    driver_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    driver_->set_connection_timeout(2);
    driver_->set_read_timeout(2);
    // Ready within 10 s.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto status = driver_->Get("/status");
      if (status && status->status == 200 && json::parse(status->body)["value"]["ready"] == true) {
        break;
      }
      usleep(100000);
    }
    driver_->set_read_timeout(60);
    const json capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions",
             {{"binary", kChromium},
              {"args", {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                        "--window-size=1100,1500"}}}}}}}}};
    session_ = command("POST", "/session", capabilities)["sessionId"].get<std::string>();
  }
  ~Browser() {
    if (!session_.empty()) {
      driver_->Delete("/session/" + session_);
    }
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

  json command(const std::string& method, const std::string& path, const json& body = json::object()) {
    const auto answer = method == "GET"      ? driver_->Get(path)
                        : method == "DELETE" ? driver_->Delete(path)
                                             : driver_->Post(path, body.dump(), "application/json");
    if (!answer) {
      throw std::runtime_error("no answer from the driver to " + path);
    }
    const json reply = json::parse(answer->body);
    if (answer->status != 200) {
      throw std::runtime_error(path + ": " + reply.dump());
    }
    return reply["value"];
  }
  json session(const std::string& method, const std::string& path, const json& body = json::object()) {
    return command(method, "/session/" + session_ + path, body);
  }

  void open(const std::string& url) { session("POST", "/url", {{"url", url}}); }
  std::string url() { return session("GET", "/url").get<std::string>(); }
  std::string find(const std::string& css) {
    return session("POST", "/element", {{"using", "css selector"}, {"value", css}})[kElement].get<std::string>();
  }
  size_t count(const std::string& css) {
    return session("POST", "/elements", {{"using", "css selector"}, {"value", css}}).size();
  }
  std::string text(const std::string& css) { return session("GET", "/element/" + find(css) + "/text"); }
  std::string attribute(const std::string& css, const std::string& name) {
    const json value = session("GET", "/element/" + find(css) + "/attribute/" + name);
    return value.is_null() ? "" : value.get<std::string>();
  }
  void type(const std::string& css, const std::string& text) {
    const std::string element = find(css);
    session("POST", "/element/" + element + "/clear");
    session("POST", "/element/" + element + "/value", {{"text", text}});
  }
  void click(const std::string& css) { session("POST", "/element/" + find(css) + "/click"); }
  // Into the frame an element is, and back out.
  void frame(const std::string& css) { session("POST", "/frame", {{"id", {{kElement, find(css)}}}}); }
  void parentFrame() { session("POST", "/frame/parent"); }
  // Elements matching, once the page has them: up to 5 s.
  size_t await(const std::string& css) {
    size_t found = 0;
    for (int attempt = 0; attempt < 50 && found == 0; ++attempt) {
      found = count(css);
      if (found == 0) {
        usleep(100000);
      }
    }
    return found;
  }
  // An attribute once it reads as expected, up to 5 s: the page that had it
  // may still be giving way to the next (its elements then go stale).
  std::string awaitAttribute(const std::string& css, const std::string& name, const std::string& expected) {
    std::string seen;
    for (int attempt = 0; attempt < 50 && seen != expected; ++attempt) {
      try {
        seen = attribute(css, name);
      } catch (const std::runtime_error& error) {
        seen = error.what();
      }
      if (seen != expected) {
        usleep(100000);
      }
    }
    return seen;
  }
  std::vector<unsigned char> screenshot() { return fromBase64(session("GET", "/screenshot").get<std::string>()); }

 private:
  int port_;
  pid_t pid_ = -1;
  std::unique_ptr<httplib::Client> driver_;
  std::string session_;
};

TEST(CaretakerPage, InARealBrowser) {
  ASSERT_EQ(access(kChromium, X_OK), 0) << "scripts/deps.sh installs chromium";
  ASSERT_EQ(access(kChromeDriver, X_OK), 0) << "scripts/deps.sh installs chromium-driver";
  RunningServer server;
  auto client = server.client();
  // A walk of 20 reports, 50 m apart, north out of a 400 m circle.
  for (int step = 0; step < 20; ++step) {
    char record[64];
    std::snprintf(record, sizeof record, "%-9.6f,%-9.6f,%02d\r\n", 41.015137 + step * 0.00045, 28.979530, 60 + step);
    ASSERT_EQ(client.Post("/postData", record, "text/plain")->status, 200);
  }
  ASSERT_EQ(client.Put("/api/settings", server.bearer(), R"({"radius": 400})", "application/json")->status, 200);

  Browser browser;
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  browser.open(base + "/");
  EXPECT_EQ(browser.url(), base + "/login");
  browser.type("#secret", "wrong");
  browser.click("#sign-in");
  EXPECT_EQ(browser.await("#login-failed"), 1U);
  browser.type("#secret", kSecret);
  browser.click("#sign-in");
  ASSERT_EQ(browser.await("#track"), 1U);
  EXPECT_EQ(browser.url(), base + "/");

  // The latest report, all 20 in the table, the track and the circle.
  EXPECT_EQ(browser.text("#latest-pulse"), "79");
  EXPECT_EQ(browser.text("#latest-position"), "41.023687, 28.979530");
  EXPECT_EQ(browser.count("#reports tr"), 21U);
  EXPECT_EQ(browser.count("#track #geofence"), 1U);
  EXPECT_EQ(browser.count("#track #north"), 1U);
  EXPECT_EQ(browser.count("#track #scale"), 1U);
  std::string points = browser.attribute("#track #path", "points");
  EXPECT_EQ(std::count(points.begin(), points.end(), ','), 20) << points;

  const auto picture = browser.screenshot();
  ASSERT_GT(picture.size(), 1000U);
  EXPECT_EQ(std::string(picture.begin() + 1, picture.begin() + 4), "PNG");
  std::filesystem::create_directories(ARTEFACTS_DIR);
  std::ofstream(std::string(ARTEFACTS_DIR) + "/caretaker_page.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));

  // The radius through the form; the firmware's request answers it.
  browser.type("#radius", "321");
  browser.click("#set-radius");
  // The form's post may still be on its way: up to 5 s for the server.
  std::string circle;
  for (int attempt = 0; attempt < 50 && circle != "@321$"; ++attempt) {
    const auto reply = client.Get("/getCircle");
    circle = reply ? reply->body : "";
    if (circle != "@321$") {
      usleep(100000);
    }
  }
  EXPECT_EQ(circle, "@321$");
  ASSERT_EQ(browser.await("#track"), 1U);
  EXPECT_EQ(browser.url(), base + "/");
  EXPECT_EQ(browser.awaitAttribute("#radius", "value", "321"), "321");

  // Another origin on the same host (another port: the same site, so the
  // session cookie goes with its requests) tries to set a radius that
  // silences the geofence: by a no-cors fetch, a form, a text/plain form;
  // and frames the page.
  const std::string target = base + "/settings";
  const std::string evilPage =
      "<!doctype html><html><body>"
      "<form id=\"form\" method=\"post\" action=\"" + target + "\"><input name=\"radius\" value=\"9999\">"
      "<button id=\"send-form\">go</button></form>"
      "<form id=\"plain\" method=\"post\" enctype=\"text/plain\" action=\"" + target + "\">"
      "<input name=\"radius\" value=\"9999\"><button id=\"send-plain\">go</button></form>"
      "<iframe id=\"framed\" src=\"" + base + "/\" width=\"800\" height=\"600\"></iframe>"
      "<script>fetch('" + target + "', {method: 'POST', mode: 'no-cors', credentials: 'include', headers: "
      "{'Content-Type': 'application/x-www-form-urlencoded'}, body: 'radius=9999'});</script></body></html>";
  server::HttpDaemon evil([&evilPage](const server::HttpRequest&) {
    return server::HttpResponse{200, "text/html", evilPage, {}};
  });
  std::string error;
  const auto evilPort = evil.listen("127.0.0.1", 0, error);
  ASSERT_TRUE(evilPort) << error;
  const std::string evilBase = "http://127.0.0.1:" + std::to_string(*evilPort);
  const auto radiusHeld = [&] {
    const auto reply = client.Get("/getCircle");
    return reply ? reply->body : "";
  };
  browser.open(evilBase + "/");
  ASSERT_EQ(browser.await("#framed"), 1U);
  usleep(500000);  // the fetch's time to go out and be answered
  EXPECT_EQ(radiusHeld(), "@321$");
  // The frame holds the browser's refusal, not the page.
  browser.frame("#framed");
  EXPECT_EQ(browser.count("#track"), 0U);
  browser.parentFrame();
  for (const char* button : {"#send-form", "#send-plain"}) {
    browser.open(evilBase + "/");
    browser.click(button);
    usleep(300000);
    EXPECT_EQ(radiusHeld(), "@321$") << button;
  }
  // The caretaker's own page still works in the same session.
  browser.open(base + "/");
  ASSERT_EQ(browser.await("#track"), 1U);
}

}  // namespace
