#include "output/photo_fields.hpp"

#include "base/text.hpp"

#include <fmt/format.h>

#include <cctype>
#include <cmath>
#include <limits>

namespace tw::output {
namespace {

long long TruncatedInteger(double value) {
  if (!std::isfinite(value)) return 0;
  constexpr double kLimit = 9.2e18;
  if (value >= kLimit) return std::numeric_limits<long long>::max();
  if (value <= -kLimit) return std::numeric_limits<long long>::min();
  return static_cast<long long>(value);
}

const Json* RatingValue(const Json& photo) {
  if (!photo.is_object()) return nullptr;
  auto it = photo.find("rating");
  return it == photo.end() ? nullptr : &*it;
}

}  // namespace

long long RatingInteger(const Json& photo) {
  const Json* rating = RatingValue(photo);
  if (!rating) return 0;
  if (rating->is_number_integer()) {
    if (rating->is_number_unsigned()) {
      auto value = rating->get<unsigned long long>();
      return value > static_cast<unsigned long long>(std::numeric_limits<long long>::max())
                 ? std::numeric_limits<long long>::max()
                 : static_cast<long long>(value);
    }
    return rating->get<long long>();
  }
  if (rating->is_number_float()) return TruncatedInteger(rating->get<double>());
  if (rating->is_boolean()) return rating->get<bool>() ? 1 : 0;
  if (rating->is_string()) return LeadingInteger(rating->get_ref<const std::string&>());
  return 0;
}

double RatingNumber(const Json& photo) {
  const Json* rating = RatingValue(photo);
  if (rating && rating->is_number()) return rating->get<double>();
  return static_cast<double>(RatingInteger(photo));
}

std::string RatingText(const Json& photo) {
  const Json* rating = RatingValue(photo);
  if (!rating) return "0";
  if (rating->is_number_unsigned()) return std::to_string(rating->get<unsigned long long>());
  if (rating->is_number_integer()) return std::to_string(rating->get<long long>());
  if (rating->is_number_float()) {
    double value = rating->get<double>();
    if (std::trunc(value) == value && std::fabs(value) < 1e15) return fmt::format("{:.0f}", value);
    return fmt::format("{}", value);
  }
  if (rating->is_boolean()) return rating->get<bool>() ? "1" : "0";
  if (rating->is_string()) return rating->get<std::string>();
  return "0";
}

std::vector<std::string> PhotoPaths(const Json& photos) {
  std::vector<std::string> paths;
  if (!photos.is_array()) return paths;
  for (const Json& photo : photos) {
    if (std::string path = StringField(photo, "path"); !path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace tw::output
