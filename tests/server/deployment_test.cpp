// The server as deployed: the trackers' face in plain HTTP, the caretaker's
// over TLS on another port, a tracker key; spoken to by curl.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/server/server_fixture.h"
#include "tests/server/server_process.h"

namespace {

using namespace server_test;

// What a command printed (stderr too) and its exit status.
std::pair<int, std::string> run(const std::string& command) {
  FILE* output = popen((command + " 2>&1").c_str(), "r");
  std::string said;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, output)) > 0;) {
    said.append(buffer, got);
  }
  const int status = pclose(output);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

// curl's status line and headers, then the body: -i, every wait bounded.
std::string curl(const std::string& arguments) {
  return run("curl -sS -i --max-time 5 " + arguments).second;
}

TEST(Deployment, TwoFacesTheCaretakersOverTlsAndATrackerKey) {
  TemporaryFolder folder;
  const auto certificate = folder.path() / "cert.pem";
  const auto key = folder.path() / "key.pem";
  const auto [made, said] = run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                                "-subj /CN=127.0.0.1 -keyout " + key.string() + " -out " + certificate.string());
  ASSERT_EQ(made, 0) << said;
  std::filesystem::permissions(key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const auto secret = folder.path() / "secret";
  writePrivateFile(secret, std::string(kSecret) + "\n");
  const auto trackerKey = folder.path() / "tracker-key";
  writePrivateFile(trackerKey, "the trackers' own key 42\n");
  ServerProcess server(folder.path() / "data", secret,
                       {"--caretaker-listen", "127.0.0.1:0", "--tls-cert", certificate.string(), "--tls-key",
                        key.string(), "--tracker-key-file", trackerKey.string()});
  ASSERT_NE(server.port(), server.caretakerPort());
  const std::string trackers = "http://127.0.0.1:" + std::to_string(server.port());
  const std::string caretaker = "https://127.0.0.1:" + std::to_string(server.caretakerPort());
  const std::string tls = "--cacert " + certificate.string() + " ";

  // The trackers' face: their two paths, with the key; nothing else.
  const std::string withKey = "-H 'X-Tracker-Key: the trackers'\\'' own key 42' ";
  EXPECT_EQ(curl(trackers + "/getCircle").substr(0, 12), "HTTP/1.1 403");
  EXPECT_NE(curl(withKey + trackers + "/getCircle").find("\r\n\r\n@250$"), std::string::npos);
  const std::string posted =
      run("printf '41.015137,28.979530,72\\r\\n' | curl -sS -i --max-time 5 " + withKey +
          "-H 'Content-Type: text/plain' --data-binary @- " + trackers + "/postData")
          .second;
  EXPECT_EQ(posted.substr(0, 12), "HTTP/1.1 200") << posted;
  EXPECT_EQ(curl(trackers + "/login").substr(0, 12), "HTTP/1.1 404");
  EXPECT_EQ(curl("-H 'Authorization: Bearer " + std::string(kSecret) + "' " + trackers + "/api/reports").substr(0, 12),
            "HTTP/1.1 404");

  // The caretaker's face: TLS only, its certificate checked; the cookie is
  // Secure; the trackers' paths are not here.
  EXPECT_EQ(curl(tls + caretaker + "/login").substr(0, 12), "HTTP/1.1 200");
  EXPECT_NE(run("curl -sS --max-time 5 http://127.0.0.1:" + std::to_string(server.caretakerPort()) + "/login").first,
            0);
  const std::string login = curl(tls + "-d 'secret=correct+horse+battery+staple' " + caretaker + "/login");
  EXPECT_EQ(login.substr(0, 12), "HTTP/1.1 303") << login;
  EXPECT_NE(login.find("; Secure"), std::string::npos) << login;
  EXPECT_EQ(curl(tls + withKey + caretaker + "/getCircle").substr(0, 12), "HTTP/1.1 404");
  const std::string reports =
      curl(tls + "-H 'Authorization: Bearer " + std::string(kSecret) + "' " + caretaker + "/api/reports");
  EXPECT_NE(reports.find("\"pulse\":72"), std::string::npos) << reports;
  EXPECT_EQ(server.stop(SIGTERM), 0);
}

}  // namespace
