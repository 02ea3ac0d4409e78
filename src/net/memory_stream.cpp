#include <algorithm>
#include <cstring>

#include "net/http_error.h"
#include "net/target_stream.h"

namespace kelvora::net {

void MemoryStream::Seek(std::int64_t position) {
  if (position < 0) throw StreamWriteError();
  position_ = position;
}

void MemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw StreamWriteError();
  data_.resize(static_cast<std::size_t>(size));
}

std::size_t MemoryStream::Write(const void* data, std::size_t count) {
  if (max_write_ > 0) count = std::min(count, max_write_);
  if (fail_at_ >= 0 && written_ + static_cast<std::int64_t>(count) > fail_at_)
    throw StreamWriteError(L"Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden");
  const auto at = static_cast<std::size_t>(position_);
  if (data_.size() < at + count) data_.resize(at + count);
  if (count > 0) std::memcpy(data_.data() + at, data, count);
  position_ += static_cast<std::int64_t>(count);
  written_ += static_cast<std::int64_t>(count);
  return count;
}

}  // namespace kelvora::net
