#include "window/fragment_plan.h"

#include <cstddef>

namespace kelvora {

std::vector<Fragment> PlanFragments(int64_t size, int32_t thread_count) {
  if (size < 0) return {Fragment{0, -1, -1}};
  if (size == 0) return {Fragment{0, -1, 0}};

  int64_t count = thread_count < 1 ? 1 : thread_count;
  if (count > size) count = size;
  const int64_t fragment_size = size / count;

  std::vector<Fragment> plan;
  plan.reserve(static_cast<std::size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const int64_t start = i * fragment_size;
    const int64_t length = (i == count - 1) ? size - start : fragment_size;
    plan.push_back(Fragment{start, start + length - 1, length});
  }
  return plan;
}

}  // namespace kelvora
