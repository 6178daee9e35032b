// The caretaker's secret and the browser sessions it opens. Location is
// personal data: every caretaker path asks for one or the other. Guesses at
// the secret are slowed per client address, then locked out.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace server {

class Access {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit Access(std::string secret, Clock clock = {});

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
  // The token the session's forms carry ("" for no live session).
  [[nodiscard]] std::string formToken(std::string_view cookieHeader);

  // Login attempts from one address: the first kFreeFailures failures cost
  // nothing, each one after makes the next wait twice as long (1 s, 2 s, 4 s
  // ...), and kLockingFailures lock the address out for kLockOut. Failures
  // are forgotten kLockOut after the last one, or at a success.
  [[nodiscard]] std::optional<std::chrono::seconds> loginWait(const std::string& address);
  void loginFailed(const std::string& address);
  void loginSucceeded(const std::string& address);

  static constexpr std::string_view kCookie = "session";
  static constexpr std::chrono::hours kSessionLife{12};
  static constexpr int kFreeFailures = 5;
  static constexpr int kLockingFailures = 10;
  static constexpr std::chrono::minutes kLockOut{15};
  // Addresses remembered at once; the oldest are forgotten past it.
  static constexpr size_t kRememberedAddresses = 10000;

 private:
  struct Session {
    std::chrono::steady_clock::time_point ends;
    std::string formToken;
  };
  struct Failures {
    int count = 0;
    std::chrono::steady_clock::time_point last;
  };
  static std::string tokenFrom(std::string_view cookieHeader);
  static std::string randomToken();

  std::string secret_;
  Clock clock_;
  std::mutex mutex_;
  std::map<std::string, Session> sessions_;
  std::map<std::string, Failures> failures_;
};

}  // namespace server
