// The caretaker's secret and the browser sessions it opens. Location is
// personal data: every caretaker path asks for one or the other.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace server {

class Access {
 public:
  explicit Access(std::string secret);

  // The same length and bytes, in time that does not depend on where they
  // differ.
  [[nodiscard]] bool isSecret(std::string_view candidate) const;
  // "Bearer <secret>".
  [[nodiscard]] bool authorises(std::string_view authorizationHeader) const;

  // A new session for a browser that gave the secret; its token.
  std::string openSession();
  // The session cookie's token is a live session.
  [[nodiscard]] bool hasSession(std::string_view cookieHeader);
  void closeSession(std::string_view cookieHeader);

  static constexpr std::string_view kCookie = "session";
  static constexpr std::chrono::hours kSessionLife{12};

 private:
  static std::string tokenFrom(std::string_view cookieHeader);

  std::string secret_;
  std::mutex mutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> sessions_;
};

}  // namespace server
