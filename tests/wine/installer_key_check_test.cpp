#include "window/installer_key_check_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/win32_handles.h"
#include "download/file_pin_win.h"
#include "scratch_folder.h"

namespace kelvora {
namespace {

// Made with openssl: two P-256 keys; the first signed the small file below
// (`openssl dgst -sha256 -sign`) and a 3 MiB file of a fixed pattern, which
// the check reads in more than one piece.
InstallerKey Key(const unsigned char (&xy)[64]) {
  InstallerKey key{{0x45, 0x43, 0x53, 0x31, 0x20, 0x00, 0x00, 0x00}};
  std::memcpy(key.blob + 8, xy, 64);
  return key;
}
constexpr unsigned char kFirstXY[64] = {
    0x50, 0xd9, 0x07, 0x76, 0x64, 0x57, 0x05, 0x33, 0x94, 0xf6, 0x6d, 0xac, 0xad, 0x63, 0x8a, 0x79,
    0xa0, 0x01, 0x5b, 0xa4, 0x86, 0x69, 0xa5, 0x39, 0x18, 0x29, 0x2d, 0x87, 0xeb, 0xb4, 0x36, 0x7d,
    0x76, 0x74, 0x0c, 0x1c, 0x7d, 0x47, 0x01, 0xc0, 0x09, 0xf4, 0xb1, 0x70, 0xe6, 0xec, 0x90, 0xa0,
    0x18, 0x53, 0x47, 0x90, 0x0c, 0x6e, 0xd8, 0xd4, 0x49, 0x35, 0x14, 0x28, 0x93, 0x36, 0x36, 0x63};
constexpr unsigned char kOtherXY[64] = {
    0x4c, 0x8f, 0x91, 0xa2, 0xc3, 0x0b, 0xba, 0xf5, 0x9a, 0x95, 0xf0, 0xd9, 0xb2, 0xa1, 0x19, 0x83,
    0xaa, 0xd7, 0x49, 0x3d, 0x8e, 0xb5, 0x95, 0x52, 0xf6, 0x7a, 0xf4, 0xed, 0x40, 0x2a, 0xc5, 0x93,
    0xa8, 0x4b, 0x6d, 0xfe, 0x1e, 0x30, 0x35, 0xee, 0x5f, 0x2c, 0x8a, 0xd6, 0xf0, 0xb7, 0x52, 0xde,
    0x6f, 0xf8, 0xeb, 0x80, 0x11, 0xcd, 0xa5, 0xe5, 0xa8, 0x03, 0xa5, 0x1a, 0xb1, 0xb8, 0x12, 0x48};
constexpr char kSmallFile[] = "MZ a file that openssl signed";
constexpr EcdsaP256Signature kSmallSignature = {
    0xa0, 0xae, 0x02, 0x19, 0xed, 0xa0, 0xbe, 0xe5, 0xc6, 0x7f, 0x6c, 0x94, 0xaa, 0xf6, 0x56, 0xbe,
    0x3e, 0x83, 0xa7, 0x03, 0x78, 0x8d, 0xa6, 0xba, 0x0b, 0xe7, 0xd0, 0xbe, 0xd6, 0x8a, 0x31, 0xd7,
    0xba, 0x61, 0x41, 0x3b, 0xd0, 0x7a, 0xd3, 0xac, 0x32, 0x1f, 0x0e, 0xeb, 0xd6, 0xa2, 0x8d, 0x62,
    0x69, 0xc9, 0x12, 0x55, 0x97, 0xac, 0x3d, 0xd5, 0xf9, 0x2d, 0x60, 0x94, 0xfd, 0xac, 0xc0, 0xa8};
constexpr EcdsaP256Signature kLargeSignature = {
    0x80, 0x40, 0x05, 0x20, 0x3a, 0xeb, 0xc0, 0x2b, 0xc8, 0x8c, 0x5a, 0xe8, 0xcb, 0x9c, 0x98, 0x94,
    0x69, 0x14, 0xe6, 0x73, 0xa3, 0xea, 0xc1, 0x46, 0x70, 0x40, 0x64, 0xda, 0x80, 0xf6, 0x6c, 0x80,
    0x8d, 0x57, 0xb5, 0x14, 0x71, 0x0f, 0x5e, 0x6f, 0x95, 0xe4, 0x0d, 0xb6, 0x82, 0xca, 0x9f, 0x6f,
    0xae, 0x77, 0x5c, 0xb2, 0xad, 0x7b, 0xde, 0x40, 0xf5, 0xfa, 0x3f, 0x74, 0x4e, 0x8c, 0xf2, 0x3a};

std::string LargeFile() {
  std::string content(3 * 1024 * 1024 + 5, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7 + i / 4096) % 251);
  return content;
}

class InstallerKeyCheck : public ::testing::Test {
 protected:
  void Write(const std::string& content) { testing::WriteTestFile(path_, content); }
  // How the run holds the file it put in place before the checks.
  unique_file Held() const {
    return unique_file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  bool Exists() const { return ::GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  testing::ScratchFolder folder_{L"key_check"};
  const std::wstring path_ = folder_.Path(L"Kelvora_Install.exe");
  const InstallerKey first_ = Key(kFirstXY);
  const InstallerKey other_ = Key(kOtherXY);
};

TEST_F(InstallerKeyCheck, VerifiesThroughTheHandleAgainstEachKey) {
  const std::string large = LargeFile();
  std::string changed = large;
  changed[2 * 1024 * 1024] ^= 1;  // in the third piece read
  const std::vector<InstallerKey> first_only = {first_}, other_only = {other_}, other_then_first = {other_, first_};
  const struct {
    const char* name;
    std::string content;
    std::vector<InstallerKey> keys;
    EcdsaP256Signature signature;
    bool accepted;
  } rows[] = {
      {"small file, its key", kSmallFile, first_only, kSmallSignature, true},
      {"small file, its key second", kSmallFile, other_then_first, kSmallSignature, true},
      {"small file, another key only", kSmallFile, other_only, kSmallSignature, false},
      {"small file, no keys", kSmallFile, {}, kSmallSignature, false},
      {"small file, a byte more", std::string(kSmallFile) + "!", first_only, kSmallSignature, false},
      {"small file, the other file's signature", kSmallFile, first_only, kLargeSignature, false},
      {"large file, its key", large, first_only, kLargeSignature, true},
      {"large file, one byte changed", changed, first_only, kLargeSignature, false},
      {"large file cut short", large.substr(0, large.size() - 1), first_only, kLargeSignature, false},
  };
  for (const auto& row : rows) {
    Write(row.content);
    const unique_file held = Held();
    ASSERT_TRUE(held) << row.name;
    // The handle's position is not where the file starts.
    LARGE_INTEGER middle{};
    middle.QuadPart = 7;
    ASSERT_TRUE(::SetFilePointerEx(held.get(), middle, nullptr, FILE_BEGIN));
    EXPECT_EQ(SignedWithInstallerKey(held.get(), row.keys, row.signature), row.accepted) << row.name;
  }
}

TEST_F(InstallerKeyCheck, AnAcceptedFileStaysPinned) {
  Write(kSmallFile);
  unique_file held = Held();
  const InstallerKey keys[] = {first_};
  ASSERT_TRUE(AcceptKeySignedInstaller(path_, held, keys, kSmallSignature));
  ASSERT_TRUE(held);
  EXPECT_FALSE(::DeleteFileW(path_.c_str()));
  EXPECT_TRUE(Exists());
}

TEST_F(InstallerKeyCheck, AFileThePublisherCheckPinnedAlreadyIsCheckedToo) {
  // With both settings the publisher check comes first and hands over its pin.
  Write(kSmallFile);
  unique_file held = PinFile(path_, Held());
  ASSERT_TRUE(held);
  const InstallerKey keys[] = {first_};
  ASSERT_TRUE(AcceptKeySignedInstaller(path_, held, keys, kSmallSignature));
  ASSERT_TRUE(held);
  EXPECT_FALSE(::DeleteFileW(path_.c_str()));
}

TEST_F(InstallerKeyCheck, ARefusedFileIsRemoved) {
  const InstallerKey keys[] = {first_};
  const struct {
    const char* name;
    std::string content;
    std::optional<EcdsaP256Signature> signature;
  } rows[] = {
      {"changed after signing", std::string(kSmallFile) + "!", kSmallSignature},
      {"no signature", kSmallFile, std::nullopt},
      {"another file's signature", kSmallFile, kLargeSignature},
  };
  for (const auto& row : rows) {
    Write(row.content);
    unique_file held = Held();
    EXPECT_FALSE(AcceptKeySignedInstaller(path_, held, keys, row.signature)) << row.name;
    EXPECT_FALSE(held) << row.name;
    EXPECT_FALSE(Exists()) << row.name;
  }
}

TEST_F(InstallerKeyCheck, WithoutKeysNothingIsChecked) {
  Write("MZ anything");
  unique_file held = Held();
  EXPECT_TRUE(AcceptKeySignedInstaller(path_, held, {}, std::nullopt));
  EXPECT_TRUE(held);
  EXPECT_TRUE(Exists());
}

}  // namespace
}  // namespace kelvora
