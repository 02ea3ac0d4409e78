#include "net/file_stream_win.h"

#include <algorithm>

#include "common/win32_error.h"
#include "net/http_error.h"

namespace kelvora::net {

namespace {
[[noreturn]] void ThrowStreamError() {
  const DWORD error = ::GetLastError();
  throw StreamWriteError(error ? SystemErrorText(error) : std::wstring());
}
}  // namespace

std::int64_t FileStream::Position() {
  LARGE_INTEGER zero = {}, position = {};
  if (!::SetFilePointerEx(file_, zero, &position, FILE_CURRENT)) ThrowStreamError();
  return position.QuadPart;
}

void FileStream::Seek(std::int64_t position) {
  LARGE_INTEGER to = {};
  to.QuadPart = position;
  if (!::SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) ThrowStreamError();
}

std::int64_t FileStream::Size() {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file_, &size)) ThrowStreamError();
  return size.QuadPart;
}

void FileStream::SetSize(std::int64_t size) {
  const std::int64_t position = Position();
  Seek(size);
  if (!::SetEndOfFile(file_)) {
    const DWORD error = ::GetLastError();
    LARGE_INTEGER back = {};
    back.QuadPart = position;
    ::SetFilePointerEx(file_, back, nullptr, FILE_BEGIN);
    ::SetLastError(error);
    ThrowStreamError();
  }
  Seek(position);
}

std::size_t FileStream::Write(const void* data, std::size_t count) {
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 0x40000000));
  DWORD written = 0;
  ::SetLastError(ERROR_SUCCESS);
  if (!::WriteFile(file_, data, chunk, &written, nullptr)) ThrowStreamError();
  return written;
}

}  // namespace kelvora::net
