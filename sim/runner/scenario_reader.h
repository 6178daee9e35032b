// Reads the tables of a scenario file, field by field, failing with the
// line and field of the first mistake.
#pragma once

#include <cmath>
#include <sstream>
#include <string>
#include <toml++/toml.h>

#include "sim/runner/scenario.h"
#include "sim/runner/scenario_run.h"

namespace sim {

class Reader {
 public:
  Reader(const toml::table& root, std::string name) : root_(root), name_(std::move(name)) {}

  [[noreturn]] void fail(const toml::node* node, const std::string& field, const std::string& what) const {
    const auto line = node != nullptr ? node->source().begin.line : 0;
    // A key from the file may hold any byte; the error is one printable line.
    throw ScenarioError(name_ + ":" + std::to_string(line) + ": " + shownBytes(field) + ": " + what);
  }

  // A number of seconds (integer or decimal) from 0 up.
  Time seconds(const toml::node& node, const std::string& field) const {
    const std::optional<double> value = node.value<double>();
    // TOML has nan and inf; neither is a time.
    if (!value || !std::isfinite(*value) || *value < 0 || *value > 1e7) {
      fail(&node, field, "a number of seconds from 0 is needed");
    }
    return static_cast<Time>(*value * 1e12);
  }
  // A time inside the run, whose length is read first.
  Time during(const toml::node& node, const std::string& field) const {
    const Time at = seconds(node, field);
    if (at > length_) {
      fail(&node, field, format(static_cast<double>(at) / 1e12) + " s is not inside the run of " +
                             format(static_cast<double>(length_) / 1e12) + " s");
    }
    return at;
  }
  // A span inside the run that starts before it ends; without its end, to
  // the run's end.
  std::pair<Time, Time> span(const toml::node& from, const toml::node* to, const std::string& field) const {
    const Time start = during(from, field);
    const Time end = to != nullptr ? during(*to, field) : kNever;
    if (end <= start) {
      fail(to, field, "the span ends before it starts");
    }
    return {start, end};
  }
  unsigned whole(const toml::node& node, const std::string& field, double low, double high) const {
    const double value = number(node, field, low, high);
    if (value != std::floor(value)) {
      fail(&node, field, "a whole number is needed");
    }
    return static_cast<unsigned>(value);
  }
  double number(const toml::node& node, const std::string& field, double low, double high) const {
    const std::optional<double> value = node.value<double>();
    if (!value || !std::isfinite(*value) || *value < low || *value > high) {
      fail(&node, field, "a number from " + format(low) + " to " + format(high) + " is needed");
    }
    return *value;
  }
  std::string text(const toml::node& node, const std::string& field) const {
    const std::optional<std::string> value = node.value<std::string>();
    if (!value) {
      fail(&node, field, "a text in quotes is needed");
    }
    return *value;
  }
  const toml::array& array(const toml::node& node, const std::string& field) const {
    const toml::array* value = node.as_array();
    if (value == nullptr) {
      fail(&node, field, "a list [ ... ] is needed");
    }
    return *value;
  }
  const toml::table& table(const toml::node& node, const std::string& field) const {
    const toml::table* value = node.as_table();
    if (value == nullptr) {
      fail(&node, field, "a table { ... } is needed");
    }
    return *value;
  }
  peers::Position position(const toml::node& node, const std::string& field) const {
    const toml::array& pair = array(node, field);
    if (pair.size() != 2) {
      fail(&node, field, "a position is [latitude, longitude]");
    }
    return {number(pair[0], field + " latitude", -90, 90), number(pair[1], field + " longitude", -180, 180)};
  }
  // Every key of a table must be one of the known ones.
  void only(const toml::table& table, const std::string& section, std::initializer_list<const char*> keys) const {
    for (const auto& [key, value] : table) {
      bool known = false;
      for (const char* name : keys) {
        known = known || key.str() == name;
      }
      if (!known) {
        fail(&value, section + "." + std::string(key.str()), "no such field");
      }
    }
  }

  // [min, max]: two numbers in [low, high], the first not above the second.
  std::pair<double, double> range(const toml::node& node, const std::string& field, double low, double high) const {
    const toml::array& pair = array(node, field);
    if (pair.size() != 2) {
      fail(&node, field, "a range is [min, max]");
    }
    const double from = number(pair[0], field, low, high);
    const double to = number(pair[1], field, low, high);
    if (from > to) {
      fail(&node, field, "the range's min is above its max");
    }
    return {from, to};
  }
  peers::Span spanOfSeconds(const toml::node& node, const std::string& field) const {
    const auto [from, to] = range(node, field, 0, 86400);
    return {static_cast<Time>(from * 1e12), static_cast<Time>(to * 1e12)};
  }
  // A phone number: an optional "+", then digits.
  std::string dialNumber(const toml::node& node, const std::string& field) const {
    const std::string number = text(node, field);
    const size_t start = !number.empty() && number[0] == '+' ? 1 : 0;
    if (number.size() <= start || number.size() > 21 ||
        number.find_first_not_of("0123456789", start) != std::string::npos) {
      fail(&node, field, "a number of digits, \"+\" and the country code first for an international one");
    }
    return number;
  }
  bool flag(const toml::node& node, const std::string& field) const {
    const std::optional<bool> value = node.value<bool>();
    if (!value) {
      fail(&node, field, "true or false is needed");
    }
    return *value;
  }
  void readModem(const toml::table& section, Scenario& scenario) const;
  // The [[expect]] tables, after the rest of the scenario.
  void readExpectations(const toml::node& node, Scenario& scenario) const;

  Scenario read() const;

 private:
  static std::string format(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
  }

  const toml::table& root_;
  std::string name_;
  mutable Time length_ = kNever;
};

}  // namespace sim
