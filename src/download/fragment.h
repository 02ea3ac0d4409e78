#pragma once
// A byte range of the installer file that one request fetches.

#include <cstdint>

namespace kelvora {

struct Fragment {
  int64_t start;   // offset of the fragment's first byte
  int64_t end;     // inclusive last byte; -1 for an open end
  int64_t length;  // bytes the fragment covers; -1 when the file size is unknown
};

}  // namespace kelvora
