#include "window/progress_bar_model.h"

#include <algorithm>
#include <cmath>

namespace kelvora {

ProgressBarModel::ProgressBarModel(double inner_length) : inner_length_(inner_length) { LayOut(); }

bool ProgressBarModel::NearlyEqual(double a, double b) {
  const double tolerance = std::max(std::min(std::fabs(a), std::fabs(b)) * 1e-12, 1e-12);
  return std::fabs(a - b) <= tolerance;
}

bool ProgressBarModel::SetMinimum(double minimum) {
  if (minimum == minimum_ || std::isnan(minimum)) return false;
  return Assign(minimum, maximum_, value_);
}

bool ProgressBarModel::SetMaximum(double maximum) {
  if (maximum == maximum_ || std::isnan(maximum)) return false;
  return Assign(minimum_, maximum, value_);
}

bool ProgressBarModel::SetValue(double value) {
  if (value == value_ || std::isnan(value)) return false;
  return Assign(minimum_, maximum_, value);
}

bool ProgressBarModel::Assign(double minimum, double maximum, double value) {
  // The bound that was just moved wins: a new minimum above an unchanged
  // maximum is pulled down to it; otherwise the maximum gives way upwards.
  if (!NearlyEqual(minimum, minimum_) && NearlyEqual(maximum, maximum_)) {
    if (minimum > maximum) minimum = maximum;
  } else if (maximum < minimum) {
    maximum = minimum;
  }
  value = std::clamp(value, minimum, maximum);
  if (NearlyEqual(value, minimum))
    value = minimum;
  else if (NearlyEqual(value, maximum))
    value = maximum;

  if (NearlyEqual(minimum, minimum_) && NearlyEqual(maximum, maximum_) && NearlyEqual(value, value_)) return false;

  minimum_ = minimum;
  maximum_ = maximum;
  value_ = value;
  const double span = maximum_ - minimum_;
  fraction_ = span <= 0.0 ? 1.0 : std::clamp((value_ - minimum_) / span, 0.0, 1.0);
  LayOut();
  return true;
}

void ProgressBarModel::LayOut() {
  // An empty range keeps the fill where it was.
  if (maximum_ > minimum_) fill_length_ = RoundHalfToEven(inner_length_ * fraction_);
}

bool ProgressBarModel::SetInnerLength(double inner_length) {
  const int64_t before = fill_length_;
  inner_length_ = inner_length;
  LayOut();
  return fill_length_ != before;
}

ShownBar::Change ShownBar::Take(const ProgressBarModel& model) {
  Change change;
  change.range = model.minimum() != minimum_ || model.maximum() != maximum_;
  const bool value_is_an_end = model.value() == model.minimum() || model.value() == model.maximum();
  change.repaint = change.range || value_is_an_end || model.fill_length() != fill_;
  minimum_ = model.minimum();
  maximum_ = model.maximum();
  fill_ = model.fill_length();
  return change;
}

double SlotMaximum(const Fragment& fragment) { return static_cast<double>(fragment.length); }

bool SetUpSlotBar(ProgressBarModel& bar, double maximum) {
  bool changed = bar.SetMaximum(maximum);
  changed |= bar.SetMinimum(0.0);
  changed |= bar.SetValue(0.0);
  return changed;
}

int64_t RoundHalfToEven(double x) {
  const double whole = std::floor(x);
  const double rest = x - whole;
  double rounded = whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) rounded = whole + 1.0;
  return static_cast<int64_t>(rounded);
}

}  // namespace kelvora
