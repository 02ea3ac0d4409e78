#pragma once
// Where a window goes when it is centred over a rectangle. Halves truncate
// toward zero, as integer division does, so odd differences lean left/up and
// a box larger than the area lands at a negative offset.

namespace kelvora::ui {

struct Origin {
  int left;
  int top;
  bool operator==(const Origin&) const = default;
};

constexpr Origin CentredOrigin(int area_left, int area_top, int area_width, int area_height, int box_width,
                               int box_height) {
  return {area_left + (area_width - box_width) / 2, area_top + (area_height - box_height) / 2};
}

}  // namespace kelvora::ui
