#pragma once
// The numbers behind a display slot's progress bar: minimum, maximum and value,
// the fill fraction they give and the length of the drawn fill. The window
// glue keeps one model per bar and passes its numbers on to the control only
// when a setter reports a change, so an unchanged assignment costs nothing.

#include <cstdint>

#include "window/fragment_plan.h"

namespace kelvora {

class ProgressBarModel {
 public:
  // A new bar holds 0, 100 and 0 with an empty fill. `inner_length` is the
  // track's length less its padding and the fill's margins at both ends.
  explicit ProgressBarModel(double inner_length = 0.0);

  // Each setter returns true when the bar took new numbers (and its fill was
  // recomputed), false when nothing happened: the number was already held
  // exactly, or after normalising and clamping, minimum, maximum and value
  // were all equal to before (within the tolerance of NearlyEqual). A NaN is
  // no number a bar can hold and is ignored.
  bool SetMinimum(double minimum);
  bool SetMaximum(double maximum);
  bool SetValue(double value);

  // A new track length lays the fill out again when maximum > minimum.
  // Returns true when the fill's length changed.
  bool SetInnerLength(double inner_length);

  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  double value() const { return value_; }
  // (value - minimum) / (maximum - minimum) limited to [0, 1]; 1 for an empty range.
  double fraction() const { return fraction_; }
  // The fill's extent as last laid out; the fill is drawn only when it is above 2.
  int64_t fill_length() const { return fill_length_; }
  bool fill_drawn() const { return fill_length_ > 2; }

  // The bar's notion of equality: a and b differ by at most
  // max(min(|a|, |b|) * 1e-12, 1e-12).
  static bool NearlyEqual(double a, double b);

 private:
  bool Assign(double minimum, double maximum, double value);
  void LayOut();

  double inner_length_;
  double minimum_ = 0.0;
  double maximum_ = 100.0;
  double value_ = 0.0;
  double fraction_ = 0.0;
  int64_t fill_length_ = 0;
};

// What the native bar control was last given, and what new numbers of the
// model ask of it: the bar is repainted only when what it draws changes (its
// range, the fill's length, or a value that stands at an end of the range).
// Repainting it for every 16 KB that arrive would cost more than the
// transfer itself.
class ShownBar {
 public:
  struct Change {
    bool range;    // the control needs the new minimum and maximum
    bool repaint;  // the control needs the new value, and paints it
  };
  // Takes the model's numbers as the ones now given to the control. Before
  // the first call nothing was given: any numbers then ask for both.
  Change Take(const ProgressBarModel& model);

 private:
  double minimum_ = -1;
  double maximum_ = -1;
  int64_t fill_ = -1;
};

// The bar maximum for a worker's slot: its fragment's length. An unknown
// length (-1) gives -1, which the bar turns into 0 when the maximum is set
// while the minimum holds 0: the range is empty and the bar stays empty.
double SlotMaximum(const Fragment& fragment);

// The slot set-up on a bar, in its order: maximum, then minimum 0, then value 0.
// Returns true when anything changed.
bool SetUpSlotBar(ProgressBarModel& bar, double maximum);

// Rounds to the nearest whole number, halves to the even neighbour.
int64_t RoundHalfToEven(double x);

}  // namespace kelvora
