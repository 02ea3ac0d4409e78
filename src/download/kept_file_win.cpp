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

// What lies at a kept name: nothing, a file this run may take, or anything
// it must leave as it is.
enum class Found { Nothing, Own, Foreign };

struct Opened {
  Found found = Found::Nothing;
  unique_file file;  // with the access asked for, when the file is Own
};

// The name's own file when it is a regular file with no other name
// (OnlyItsOwnFile); anything else there is Foreign and is not opened with
// the access asked for: a hard link may be another's file, a reparse point
// leads elsewhere. The first open only looks (attributes, sharing
// everything, never following a link); the access comes after the look, on
// the same file, never by name again. A name added to the file after the
// look is the file's own: it leads nobody's writes elsewhere.
Opened OpenOwnFile(const std::wstring& path, DWORD access) {
  Opened opened;
  const unique_file look(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!look) {
    const DWORD error = ::GetLastError();
    // Something that cannot even be looked at is not touched either.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) opened.found = Found::Foreign;
    return opened;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(look.get(), &info)) {
    opened.found = Found::Foreign;
    return opened;
  }
  const KeptFileFacts facts{(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, info.nNumberOfLinks};
  if (!OnlyItsOwnFile(facts)) {
    opened.found = Found::Foreign;
    return opened;
  }
  opened.file.reset(::ReOpenFile(look.get(), access, FILE_SHARE_READ, 0));
  // One that another holds open (a second instance of the program) is not
  // this run's to take or remove either.
  opened.found = opened.file ? Found::Own : Found::Foreign;
  return opened;
}

// The record, or nothing; `found` tells what lies at its name.
std::optional<KeptDownload> ReadRecord(const std::wstring& path, Found& found) {
  const Opened opened = OpenOwnFile(path, GENERIC_READ);
  found = opened.found;
  if (!opened.file) return std::nullopt;
  std::string text(kLongestRecord + 1, '\0');
  DWORD read = 0;
  if (!::ReadFile(opened.file.get(), text.data(), kLongestRecord + 1, &read, nullptr)) return std::nullopt;
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
    Found record_found = Found::Nothing;
    const auto record = ReadRecord(RecordName(target), record_found);
    Opened data;
    if (record_found != Found::Foreign) data = OpenOwnFile(DataName(target), GENERIC_READ | GENERIC_WRITE | DELETE);
    // A link or anything else that is not only its own file is left as it
    // is, the other of the two as well: nothing of it is read, written or
    // removed. The run then starts from byte 0.
    if (record_found == Found::Foreign || data.found == Found::Foreign) return std::nullopt;
    LARGE_INTEGER size{};
    if (record && data.file && ::GetFileSizeEx(data.file.get(), &size) && size.QuadPart == record->length)
      return HeldKept{*record, std::move(data.file)};
    // Leftovers of this program that cannot be continued.
    RemoveKept(target, std::move(data.file));
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
