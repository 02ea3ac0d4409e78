#pragma once
// A TargetStream over a file handle that the caller owns and keeps open for
// as long as the stream is used. Failures throw StreamWriteError with the
// system's text for the last error.

#include <windows.h>

#include "net/target_stream.h"

namespace kelvora::net {

class FileStream : public TargetStream {
 public:
  explicit FileStream(HANDLE file) : file_(file) {}

  std::int64_t Position() override;
  void Seek(std::int64_t position) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;
  std::size_t Write(const void* data, std::size_t count) override;

 private:
  HANDLE file_;
};

}  // namespace kelvora::net
