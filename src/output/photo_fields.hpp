#pragma once
// How the output reads a photo record's fields: the page sends a number as "rating", but a record
// that passed through other tools may hold anything. Any thread.
#include "base/json.hpp"

#include <string>
#include <vector>

namespace tw::output {

// The rating as a whole number: numbers are truncated toward zero, a text counts by its leading
// integer ("4 stars" is 4), true is 1; anything else, and a missing key, is 0.
long long RatingInteger(const Json& photo);

// The rating by which two photos' ratings are compared: numbers as they are (3.5 above 3),
// anything else as RatingInteger reads it.
double RatingNumber(const Json& photo);

// The rating as text: whole numbers without a fraction ("4", also for 4.0), other numbers in their
// shortest form ("3.5"), a text as it stands, true/false as "1"/"0"; a missing key and anything
// else is "0".
std::string RatingText(const Json& photo);

// The non-empty "path" strings of a photo list, in order.
std::vector<std::string> PhotoPaths(const Json& photos);

}  // namespace tw::output
