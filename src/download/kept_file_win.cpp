#include "download/kept_file_win.h"

#include <windows.h>

#include <string>

#include "download/working_file_win.h"

namespace kelvora {

namespace {

std::wstring DataName(const std::wstring& target) { return target + L".kept"; }
std::wstring RecordName(const std::wstring& target) { return target + L".kept-info"; }

// A record is a few hundred bytes; anything longer is not one.
constexpr DWORD kLongestRecord = 8192;

// The name's own file, never what a link there points to: a regular file or nothing.
unique_file OpenRegularFile(const std::wstring& path, DWORD access) {
  unique_file file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return unique_file();
  return file;
}

std::optional<KeptDownload> ReadRecord(const std::wstring& path) {
  const unique_file file = OpenRegularFile(path, GENERIC_READ);
  if (!file) return std::nullopt;
  std::string text(kLongestRecord + 1, '\0');
  DWORD read = 0;
  if (!::ReadFile(file.get(), text.data(), kLongestRecord + 1, &read, nullptr)) return std::nullopt;
  text.resize(read);
  return ParseKeptDownload(text);
}

bool SetSize(HANDLE file, std::int64_t size) {
  LARGE_INTEGER end{};
  end.QuadPart = size;
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file) &&
         ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
}

bool WriteRecord(const std::wstring& path, const KeptDownload& record) {
  try {
    RemoveEarlierFile(path);
  } catch (...) {
    return false;
  }
  const unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  const std::string text = FormatKeptDownload(record);
  DWORD written = 0;
  return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

}  // namespace

std::optional<HeldKept> TakeUpKept(const std::wstring& target) noexcept {
  try {
    const auto record = ReadRecord(RecordName(target));
    unique_file data;
    if (record) data = OpenRegularFile(DataName(target), GENERIC_READ | GENERIC_WRITE | DELETE);
    LARGE_INTEGER size{};
    if (record && data && ::GetFileSizeEx(data.get(), &size) && size.QuadPart == record->length)
      return HeldKept{*record, std::move(data)};
    RemoveKept(target, std::move(data));
  } catch (...) {
    // Nothing is continued.
  }
  return std::nullopt;
}

std::optional<HeldKept> KeepBytes(unique_file working, const std::wstring& target,
                                  const KeptDownload& record) noexcept {
  try {
    if (SetSize(working.get(), record.length)) {
      RenameThrough(working.get(), DataName(target));
      if (WriteRecord(RecordName(target), record)) return HeldKept{record, std::move(working)};
    }
  } catch (...) {
    // Nothing is kept.
  }
  RemoveKept(target, std::move(working));
  return std::nullopt;
}

void RemoveKeptRecord(const std::wstring& target) noexcept { ::DeleteFileW(RecordName(target).c_str()); }

void RemoveKept(const std::wstring& target, unique_file held) noexcept {
  if (held) DiscardFile(std::move(held));
  ::DeleteFileW(DataName(target).c_str());
  ::DeleteFileW(RecordName(target).c_str());
}

}  // namespace kelvora
