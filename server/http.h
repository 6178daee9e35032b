// A request as the routes see it and the response they give, whatever HTTP
// layer carries them.
#pragma once

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

using Fields = std::vector<std::pair<std::string, std::string>>;

// Header names are compared without regard to case.
inline bool sameFieldName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

struct HttpRequest {
  std::string method;  // HEAD comes as GET; the layer leaves the body out
  bool head = false;   // it was HEAD
  std::string path;    // decoded, without the query
  Fields headers;
  Fields parameters;   // the query's, then a urlencoded form's
  std::string body;
  std::string remoteAddress;
  bool secure = false;  // came over TLS

  // The first header of that name (any case), or "".
  [[nodiscard]] std::string header(std::string_view name) const {
    const auto found = std::find_if(headers.begin(), headers.end(),
                                    [name](const auto& field) { return sameFieldName(field.first, name); });
    return found == headers.end() ? std::string() : found->second;
  }
  [[nodiscard]] bool hasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [name](const auto& field) { return sameFieldName(field.first, name); });
  }
  [[nodiscard]] std::optional<std::string> parameter(std::string_view name) const {
    const auto found =
        std::find_if(parameters.begin(), parameters.end(), [name](const auto& field) { return field.first == name; });
    return found == parameters.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  Fields headers;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

}  // namespace server
