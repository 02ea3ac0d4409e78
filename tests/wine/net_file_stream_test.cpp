#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/win32_handles.h"
#include "net/file_stream_win.h"
#include "net/http_error.h"
#include "net/winhttp_transport.h"

namespace kelvora::net {
namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

TEST(NetFileStream, SeeksSizesAndWritesTheCallersFile) {
  const std::wstring path = TempFile(L"kelvora_net_stream_test.bin");
  unique_file file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                 nullptr));
  ASSERT_TRUE(file);
  FileStream stream(file.get());
  EXPECT_EQ(stream.Size(), 0);
  stream.SetSize(10);
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(stream.Position(), 0) << "resizing leaves the position alone";
  stream.Seek(4);
  EXPECT_EQ(stream.Write("abcdefgh", 8), 8u);
  EXPECT_EQ(stream.Position(), 12);
  EXPECT_EQ(stream.Size(), 12);
  stream.SetSize(6);
  EXPECT_EQ(stream.Size(), 6);
  stream.Seek(0);
  char bytes[16] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(file.get(), bytes, sizeof(bytes), &read, nullptr));
  EXPECT_EQ(std::string(bytes, read), std::string("\0\0\0\0ab", 6));
}

TEST(NetFileStream, FailedWriteRaisesStreamWriteErrorWithSystemText) {
  const std::wstring path = TempFile(L"kelvora_net_stream_readonly.bin");
  unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
  ASSERT_TRUE(file);
  FileStream stream(file.get());
  try {
    stream.Write("x", 1);
    FAIL() << "no error";
  } catch (const StreamWriteError& e) {
    const std::wstring prefix = L"Stream-Schreibfehler: ";
    ASSERT_GT(e.message().size(), prefix.size());
    EXPECT_EQ(e.message().substr(0, prefix.size()), prefix);
    EXPECT_NE(e.message().back(), L'.');
    EXPECT_NE(e.message().back(), L'\n');
  }
  file.reset();
  ::DeleteFileW(path.c_str());
}

TEST(NetWinHttp, OpensASessionAndRefusesBadAddresses) {
  auto client = CreateWinHttpClient();
  try {
    client->Head(L"https://");
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::Url);
    EXPECT_EQ(e.message(), L"Ungültiger URL: \"https://\"");
  }
}

}  // namespace
}  // namespace kelvora::net
