// The platform's limits for the benchmark: the plainest WinHTTP download
// loops, fetching a URL into a file and nothing else.
//   kelvora_bench_winhttp.exe [--read-pattern] URL OUTPUT_FILE
// Without the flag: fixed 1 MiB reads. With it: the installer's own pattern
// (ask how many bytes are available, read exactly that many, write them),
// the floor for a program that keeps that pattern.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool WriteAll(HANDLE file, const char* data, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, data, count, &written, nullptr) && written == count;
}

// Returns the bytes fetched, or -1 when reading or writing failed.
long long FixedReads(HINTERNET request, HANDLE file) {
  std::vector<char> buffer(1024 * 1024);
  long long total = 0;
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) return -1;
    if (read == 0) return total;
    if (!WriteAll(file, buffer.data(), read)) return -1;
    total += read;
  }
}

long long ReadPattern(HINTERNET request, HANDLE file) {
  std::vector<char> buffer;
  long long total = 0;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return -1;
    if (available == 0) return total;
    if (buffer.size() < available + 1) buffer.resize(available + 1);
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), available, &read)) return -1;
    if (read == 0) return total;
    if (!WriteAll(file, buffer.data(), read)) return -1;
    total += read;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool read_pattern = argc == 4 && std::wcscmp(argv[1], L"--read-pattern") == 0;
  if (argc != 3 && !read_pattern) {
    std::fwprintf(stderr, L"usage: %ls [--read-pattern] URL OUTPUT_FILE\n", argv[0]);
    return 2;
  }
  const wchar_t* url = argv[argc - 2];
  const wchar_t* output = argv[argc - 1];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256], path[2048];
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(url, 0, 0, &parts)) return 3;

  HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr,
                                                      WINHTTP_FLAG_SECURE)
                                 : nullptr;
  if (!request || !WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr))
    return 4;

  HANDLE file = CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 5;
  const long long total = read_pattern ? ReadPattern(request, file) : FixedReads(request, file);
  CloseHandle(file);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  if (total < 0) return 6;
  std::printf("%lld\n", total);
  return 0;
}
