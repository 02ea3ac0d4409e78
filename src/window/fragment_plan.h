#pragma once
// How the installer file is split among the download workers.

#include <cstdint>
#include <vector>

#include "download/fragment.h"

namespace kelvora {

// Splits a file of `size` bytes into disjoint inclusive ranges that together
// cover bytes 0 .. size-1, in order; all fragments but the last have size div n
// bytes and the last takes the remainder. n is `thread_count` (at least 1), but
// never more than `size`, so that no fragment is empty and no worker is made
// for nothing: the result may be shorter than `thread_count`.
// An unknown size (any negative value, normally -1) gives one open fragment
// {0, -1, -1}: everything from byte 0, however much arrives.
// Size 0 gives one fragment {0, -1, 0}: nothing is expected, the request stays
// open from byte 0 (so whatever the server does have is still taken), and the
// slot's bar has maximum 0 and stays empty.
// Any thread may call it; it throws only std::bad_alloc.
std::vector<Fragment> PlanFragments(int64_t size, int32_t thread_count);

}  // namespace kelvora
