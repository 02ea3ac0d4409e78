// The platform's limit for the benchmark: the plainest WinHTTP download loop,
// fetching a URL into a file with a fixed buffer and nothing else.
//   kelvora_bench_winhttp.exe URL OUTPUT_FILE
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: %ls URL OUTPUT_FILE\n", argv[0]);
    return 2;
  }
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256], path[2048];
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(argv[1], 0, 0, &parts)) return 3;

  HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr,
                                                      WINHTTP_FLAG_SECURE)
                                 : nullptr;
  if (!request || !WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr))
    return 4;

  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 5;
  std::vector<char> buffer(64 * 1024);
  unsigned long long total = 0;
  for (;;) {
    DWORD read = 0, written = 0;
    if (!WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) return 6;
    if (read == 0) break;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) return 7;
    total += read;
  }
  CloseHandle(file);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  std::printf("%llu\n", total);
  return 0;
}
