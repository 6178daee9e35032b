#include "server/access.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace server {

Access::Access(std::string secret, Clock clock)
    : secret_(std::move(secret)), clock_(clock ? std::move(clock) : Clock(std::chrono::steady_clock::now)) {
  if (secret_.empty()) {
    throw std::invalid_argument("the caretaker's secret is empty");
  }
}

bool Access::isSecret(std::string_view candidate) const {
  // Every byte of the secret is compared, whatever the candidate holds.
  unsigned difference = candidate.size() == secret_.size() ? 0U : 1U;
  for (size_t index = 0; index < secret_.size(); ++index) {
    const char given = index < candidate.size() ? candidate[index] : '\0';
    difference |= static_cast<unsigned char>(given ^ secret_[index]);
  }
  return difference == 0;
}

bool Access::authorises(std::string_view authorizationHeader) const {
  constexpr std::string_view kBearer = "Bearer ";
  return authorizationHeader.substr(0, kBearer.size()) == kBearer &&
         isSecret(authorizationHeader.substr(kBearer.size()));
}

std::string Access::randomToken() {
  // 256 bits from the kernel's random source.
  std::random_device random;
  std::string token;
  for (int word = 0; word < 8; ++word) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", random());
    token += hex;
  }
  return token;
}

std::string Access::openSession() {
  const std::string token = randomToken();
  std::lock_guard lock(mutex_);
  const auto now = clock_();
  std::erase_if(sessions_, [now](const auto& session) { return session.second.ends < now; });
  sessions_[token] = Session{now + kSessionLife, randomToken()};
  return token;
}

std::string Access::tokenFrom(std::string_view cookieHeader) {
  // "a=1; session=abc; b=2"
  for (size_t at = 0; at < cookieHeader.size();) {
    const size_t end = std::min(cookieHeader.find(';', at), cookieHeader.size());
    std::string_view pair = cookieHeader.substr(at, end - at);
    while (!pair.empty() && pair.front() == ' ') {
      pair.remove_prefix(1);
    }
    if (pair.substr(0, kCookie.size()) == kCookie && pair.size() > kCookie.size() && pair[kCookie.size()] == '=') {
      return std::string(pair.substr(kCookie.size() + 1));
    }
    at = end + 1;
  }
  return {};
}

bool Access::hasSession(std::string_view cookieHeader) {
  return !formToken(cookieHeader).empty();
}

std::string Access::formToken(std::string_view cookieHeader) {
  const std::string token = tokenFrom(cookieHeader);
  if (token.empty()) {
    return {};
  }
  std::lock_guard lock(mutex_);
  const auto found = sessions_.find(token);
  return found != sessions_.end() && found->second.ends >= clock_() ? found->second.formToken : std::string();
}

void Access::closeSession(std::string_view cookieHeader) {
  const std::string token = tokenFrom(cookieHeader);
  std::lock_guard lock(mutex_);
  sessions_.erase(token);
}

std::optional<std::chrono::seconds> Access::loginWait(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto found = failures_.find(address);
  if (found == failures_.end()) {
    return std::nullopt;
  }
  const auto now = clock_();
  const Failures& failures = found->second;
  if (now - failures.last >= kLockOut) {
    failures_.erase(found);
    return std::nullopt;
  }
  std::chrono::seconds wait{0};
  if (failures.count >= kLockingFailures) {
    wait = kLockOut;
  } else if (failures.count > kFreeFailures) {
    wait = std::chrono::seconds(1 << (failures.count - kFreeFailures - 1));
  }
  const auto free = failures.last + wait;
  if (now >= free) {
    return std::nullopt;
  }
  return std::chrono::ceil<std::chrono::seconds>(free - now);
}

void Access::loginFailed(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto now = clock_();
  if (failures_.size() >= kRememberedAddresses && !failures_.contains(address)) {
    std::erase_if(failures_, [now](const auto& entry) { return now - entry.second.last >= kLockOut; });
    if (failures_.size() >= kRememberedAddresses) {
      failures_.erase(std::min_element(failures_.begin(), failures_.end(), [](const auto& a, const auto& b) {
        return a.second.last < b.second.last;
      }));
    }
  }
  Failures& failures = failures_[address];
  ++failures.count;
  failures.last = now;
}

void Access::loginSucceeded(const std::string& address) {
  std::lock_guard lock(mutex_);
  failures_.erase(address);
}

}  // namespace server
