#include "server/access.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace server {

Access::Access(std::string secret) : secret_(std::move(secret)) {
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

std::string Access::openSession() {
  // 256 bits from the kernel's random source.
  std::random_device random;
  std::string token;
  for (int word = 0; word < 8; ++word) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", random());
    token += hex;
  }
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(sessions_, [now](const auto& session) { return session.second < now; });
  sessions_[token] = now + kSessionLife;
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
  const std::string token = tokenFrom(cookieHeader);
  if (token.empty()) {
    return false;
  }
  std::lock_guard lock(mutex_);
  const auto found = sessions_.find(token);
  return found != sessions_.end() && found->second >= std::chrono::steady_clock::now();
}

void Access::closeSession(std::string_view cookieHeader) {
  const std::string token = tokenFrom(cookieHeader);
  std::lock_guard lock(mutex_);
  sessions_.erase(token);
}

}  // namespace server
