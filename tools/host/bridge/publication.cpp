#include "bridge/publication.h"

#include <fmt/core.h>

#include <cmath>
#include <ctime>

namespace tavhost::bridge {

bool IsNews(const std::optional<Sample>& published, const Sample& next, double deadband) {
  if (!published || published->quality != next.quality) return true;
  const Json& before = published->value;
  const Json& now = next.value;
  if (before.is_number() && now.is_number() && !before.is_boolean() && !now.is_boolean()) {
    return std::fabs(now.get<double>() - before.get<double>()) > deadband;
  }
  return before != now;
}

Json PlcValue(const Json& values) {
  Json value = values.at(0);
  if (value.is_string()) {
    std::string& text = value.get_ref<std::string&>();
    text.erase(text.find_last_not_of('\0') + 1);
  }
  return value;
}

std::string Payload(const Sample& sample) {
  const Json document = {{"value", sample.value},
                         {"ts", UtcTimestamp(sample.time)},
                         {"quality", sample.quality == Quality::kGood ? "good" : "bad"}};
  return document.dump();
}

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
  const auto milliseconds =
      std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count();
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", utc.tm_year + 1900,
                     utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                     milliseconds % 1000);
}

}  // namespace tavhost::bridge
