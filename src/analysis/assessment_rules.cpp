#include "analysis/assessment_rules.hpp"

#include "analysis/analysis_texts.hpp"

namespace tw::analysis {

const StrictnessPreset& PresetForStrictness(const std::string& strictness) {
  static constexpr StrictnessPreset kLenientRow{90, 0.14, 0.87, 0.13, 25, 60};
  static constexpr StrictnessPreset kStandardRow{150, 0.09, 0.82, 0.18, 20, 90};
  static constexpr StrictnessPreset kStrictRow{230, 0.05, 0.76, 0.24, 16, 150};
  if (strictness == texts::kLenient) return kLenientRow;
  if (strictness == texts::kStrict) return kStrictRow;
  return kStandardRow;
}

}  // namespace tw::analysis
