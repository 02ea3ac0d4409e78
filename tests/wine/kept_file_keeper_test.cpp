// The keeper of cut-off downloads on the real file system: what it takes up,
// continues, keeps and leaves alone at the kept names beside the installer's
// path.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "common/win32_handles.h"
#include "download/fetch_files.h"
#include "download/kept_download.h"
#include "download/kept_file_keeper_win.h"
#include "download/working_file_win.h"
#include "scratch_folder.h"

namespace kelvora {
namespace {

const std::wstring kUrl = L"https://a.example/fileadmin/Kelvora_Install.exe";
const std::wstring kOtherUrl = L"https://b.example/mirror/Kelvora_Install.exe";
constexpr std::int64_t kTotal = 100;
const std::string kBytes = "0123456789";  // ten kept bytes of a file of kTotal

class Scratch : public testing::ScratchFolder {
 public:
  Scratch() : ScratchFolder(L"kept") {}
  std::wstring Target() const { return Path(L"Kelvora_Install.exe"); }
  std::wstring Data() const { return Target() + L".kept"; }
  std::wstring Record() const { return Target() + L".kept-info"; }
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Read(const std::wstring& path) {
  unique_file file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  if (!file) return "<none>";
  std::string content(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
  content.resize(read);
  return content;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The names a file has (hard links), 0 when it cannot be opened.
DWORD Links(const std::wstring& path) {
  unique_file file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return 0;
  return info.nNumberOfLinks;
}

KeptDownload Record(const std::wstring& url = kUrl, std::int64_t length = 10) {
  return KeptDownload{url, kTotal, L"\"v1\"", length};
}

// What an earlier run would have kept: the bytes and their record.
void Keep(const Scratch& scratch, const std::string& bytes, const KeptDownload& record) {
  testing::WriteTestFile(scratch.Data(), bytes);
  testing::WriteTestFile(scratch.Record(), FormatKeptDownload(record));
}

// A working file of `total` bytes whose first ones are `bytes`, as a fetch that broke off leaves it.
unique_file CutOff(const Scratch& scratch, const std::string& bytes) {
  unique_file working = CreateWorkingFile(scratch.Path(L"Kelvora_Install.exe.part"), kTotal);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(working.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  return working;
}

FetchProgress Reached(std::int64_t in_place, const std::wstring& validator = L"\"v1\"") {
  FetchProgress progress;
  progress.reached = ResumePoint{validator, in_place, kTotal};
  return progress;
}

TEST(KeptFileKeeper, ContinuesItsOwnKeptBytes) {
  Scratch scratch;
  Keep(scratch, kBytes, Record());
  auto keeper = MakeKeptFileKeeper();
  keeper->TakeUp(scratch.Target());
  unique_file working;
  const auto from = keeper->TakeFor(kUrl, kTotal, working);
  ASSERT_TRUE(from);
  EXPECT_EQ(from->in_place, 10);
  EXPECT_EQ(from->validator, L"\"v1\"");
  ASSERT_TRUE(working);
  LARGE_INTEGER size{};
  EXPECT_TRUE(GetFileSizeEx(working.get(), &size));
  EXPECT_EQ(size.QuadPart, kTotal);
  // Written on from here: the record no longer tells what the bytes are.
  EXPECT_FALSE(Exists(scratch.Record()));
}

// What an earlier run left and the keeper cannot continue: nothing is
// continued, and the run starts from byte 0.
TEST(KeptFileKeeper, LeftoversThatCannotBeContinuedAreRemoved) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string record;
  } rows[] = {
      {"a size that does not match its record", "012345678", FormatKeptDownload(Record())},
      {"bytes beyond the record's length", "0123456789a", FormatKeptDownload(Record())},
      {"a record that does not parse", kBytes, "kelvora-kept-download 1\nurl=" + ToUtf8(kUrl) + "\ntotal=x\n"},
      {"an empty record", kBytes, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch scratch;
    testing::WriteTestFile(scratch.Data(), row.bytes);
    testing::WriteTestFile(scratch.Record(), row.record);
    auto keeper = MakeKeptFileKeeper();
    keeper->TakeUp(scratch.Target());
    unique_file working;
    EXPECT_FALSE(keeper->TakeFor(kUrl, kTotal, working));
    EXPECT_FALSE(working);
    EXPECT_FALSE(Exists(scratch.Data()));
    EXPECT_FALSE(Exists(scratch.Record()));
  }
}

// A second name at the kept name, or at its record's: somebody else's file
// (anybody may make a hard link in a shared temporary folder). It is neither
// continued nor written nor removed, and keeping new bytes later replaces the
// name, never the other file's content.
TEST(KeptFileKeeper, AHardLinkIsLeftAloneAndNeverWrittenThrough) {
  struct Row {
    const char* name;
    bool link_data;
    bool link_record;
  } rows[] = {
      {"the kept bytes", true, false},
      {"the record", false, true},
      {"both", true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch scratch;
    // The other files hold what a record and kept bytes would: a link alone
    // must make them unusable.
    const std::wstring other_data = scratch.Path(L"other.bin");
    const std::wstring other_record = scratch.Path(L"other.txt");
    const std::string record_text = FormatKeptDownload(Record());
    testing::WriteTestFile(row.link_data ? other_data : scratch.Data(), kBytes);
    testing::WriteTestFile(row.link_record ? other_record : scratch.Record(), record_text);
    if (row.link_data) {
      ASSERT_TRUE(CreateHardLinkW(scratch.Data().c_str(), other_data.c_str(), nullptr));
    }
    if (row.link_record) {
      ASSERT_TRUE(CreateHardLinkW(scratch.Record().c_str(), other_record.c_str(), nullptr));
    }
    // Measured here under Wine 8 as on Windows: a hard link's file has two names.
    ASSERT_EQ(Links(scratch.Data()), row.link_data ? 2u : 1u);
    ASSERT_EQ(Links(scratch.Record()), row.link_record ? 2u : 1u);

    auto keeper = MakeKeptFileKeeper();
    keeper->TakeUp(scratch.Target());
    unique_file working;
    EXPECT_FALSE(keeper->TakeFor(kUrl, kTotal, working));
    EXPECT_FALSE(working);
    // Left alone: both names and both contents as they were.
    EXPECT_EQ(Read(scratch.Data()), kBytes);
    EXPECT_EQ(Read(scratch.Record()), record_text);
    EXPECT_EQ(Links(scratch.Data()), row.link_data ? 2u : 1u);
    EXPECT_EQ(Links(scratch.Record()), row.link_record ? 2u : 1u);

    // A run from byte 0 that breaks off keeps its own bytes under the names.
    keeper->KeepOrDiscard(CutOff(scratch, "abcdefghijklmnopqrst"), kUrl, kTotal, Reached(20));
    EXPECT_EQ(Read(scratch.Data()), "abcdefghijklmnopqrst");
    EXPECT_EQ(Read(scratch.Record()), FormatKeptDownload(Record(kUrl, 20)));
    if (row.link_data) {
      EXPECT_EQ(Read(other_data), kBytes);
    }
    if (row.link_record) {
      EXPECT_EQ(Read(other_record), record_text);
    }
    EXPECT_EQ(Links(scratch.Data()), 1u);
    EXPECT_EQ(Links(scratch.Record()), 1u);
  }
}

TEST(KeptFileKeeper, AHardLinkStaysWhenTheRunCompletes) {
  Scratch scratch;
  const std::wstring other = scratch.Path(L"other.bin");
  testing::WriteTestFile(other, kBytes);
  ASSERT_TRUE(CreateHardLinkW(scratch.Data().c_str(), other.c_str(), nullptr));
  testing::WriteTestFile(scratch.Record(), FormatKeptDownload(Record()));
  auto keeper = MakeKeptFileKeeper();
  keeper->TakeUp(scratch.Target());
  unique_file working;
  EXPECT_FALSE(keeper->TakeFor(kUrl, kTotal, working));
  keeper->Forget();
  EXPECT_EQ(Read(scratch.Data()), kBytes);
  EXPECT_EQ(Links(other), 2u);
  EXPECT_TRUE(Exists(scratch.Record()));
}

// Kept bytes that another holds open for writing (a second instance of the
// program in the middle of its run) are neither taken nor removed, nor is
// their record.
TEST(KeptFileKeeper, KeptBytesThatAnotherHoldsAreLeftAlone) {
  Scratch scratch;
  Keep(scratch, kBytes, Record());
  const unique_file other(CreateFileW(scratch.Data().c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(other);
  auto keeper = MakeKeptFileKeeper();
  keeper->TakeUp(scratch.Target());
  unique_file working;
  EXPECT_FALSE(keeper->TakeFor(kUrl, kTotal, working));
  keeper->Forget();
  EXPECT_EQ(Read(scratch.Data()), kBytes);
  EXPECT_EQ(Read(scratch.Record()), FormatKeptDownload(Record()));
}

// A symbolic link at the kept name leads elsewhere: left alone like a hard
// link. Where the system cannot make one, the row is not run; the decision
// itself has a native row with the file's facts faked. Measured under Wine 8:
// CreateSymbolicLinkW returns TRUE and leaves nothing at the name, so the
// link is checked to be there before the row counts.
TEST(KeptFileKeeper, ASymbolicLinkIsLeftAlone) {
  Scratch scratch;
  const std::wstring other = scratch.Path(L"other.bin");
  testing::WriteTestFile(other, kBytes);
  const bool made = CreateSymbolicLinkW(scratch.Data().c_str(), other.c_str(), 0);
  const DWORD attributes = GetFileAttributesW(scratch.Data().c_str());
  if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "no symbolic link at the kept name here";
  testing::WriteTestFile(scratch.Record(), FormatKeptDownload(Record()));
  auto keeper = MakeKeptFileKeeper();
  keeper->TakeUp(scratch.Target());
  unique_file working;
  EXPECT_FALSE(keeper->TakeFor(kUrl, kTotal, working));
  keeper->KeepOrDiscard(CutOff(scratch, "abcdefghijklmnopqrst"), kUrl, kTotal, Reached(20));
  EXPECT_EQ(Read(other), kBytes);
}

// Kept bytes are replaced only by more bytes; and the kept bytes of another
// address survive a run at this one that gets no further than they did.
TEST(KeptFileKeeper, KeepsOnlyWhatIsLongerAndAnotherAddresssBytesSurvive) {
  struct Row {
    const char* name;
    std::int64_t cut_at;  // where this run's download at the other address broke off
    bool replaced;
  } rows[] = {
      {"fewer bytes", 5, false},
      {"as many bytes", 10, false},
      {"more bytes", 20, true},
  };
  const std::string run_bytes = "abcdefghijklmnopqrst";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch scratch;
    Keep(scratch, kBytes, Record(kUrl));
    {
      auto keeper = MakeKeptFileKeeper();
      keeper->TakeUp(scratch.Target());
      unique_file working;
      // Kept for the first address: nothing to continue at the other.
      EXPECT_FALSE(keeper->TakeFor(kOtherUrl, kTotal, working));
      EXPECT_EQ(Read(scratch.Data()), kBytes);
      EXPECT_EQ(Read(scratch.Record()), FormatKeptDownload(Record(kUrl)));
      keeper->KeepOrDiscard(CutOff(scratch, run_bytes.substr(0, static_cast<std::size_t>(row.cut_at))), kOtherUrl,
                            kTotal, Reached(row.cut_at));
    }
    EXPECT_FALSE(Exists(scratch.Path(L"Kelvora_Install.exe.part")));
    if (row.replaced) {
      EXPECT_EQ(Read(scratch.Data()), run_bytes);
      EXPECT_EQ(Read(scratch.Record()), FormatKeptDownload(Record(kOtherUrl, 20)));
    } else {
      EXPECT_EQ(Read(scratch.Data()), kBytes);
      EXPECT_EQ(Read(scratch.Record()), FormatKeptDownload(Record(kUrl)));
    }
    // The next run continues what survived, at its address.
    auto next = MakeKeptFileKeeper();
    next->TakeUp(scratch.Target());
    unique_file working;
    const auto from = next->TakeFor(row.replaced ? kOtherUrl : kUrl, kTotal, working);
    ASSERT_TRUE(from);
    EXPECT_EQ(from->in_place, row.replaced ? 20 : 10);
  }
}

// Kept bytes that were taken to go on from and then broke off again are kept
// again, when longer, under the same name; a close before anything was
// written (the coordinator gives back where they stood) leaves them and
// their record as they were.
TEST(KeptFileKeeper, TakenBytesGoBackUnderTheKeptName) {
  struct Row {
    const char* name;
    bool worker_ran;
    std::int64_t reached;  // with a worker: where the fetch got to
    std::string bytes;     // then in place
  } rows[] = {
      {"a close before the first worker began", false, 0, kBytes},
      {"a close before the first byte", true, 10, kBytes},
      {"cut off again further on", true, 30, kBytes + "abcdefghijklmnopqrst"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch scratch;
    Keep(scratch, kBytes, Record());
    auto keeper = MakeKeptFileKeeper();
    keeper->TakeUp(scratch.Target());
    unique_file working;
    const auto from = keeper->TakeFor(kUrl, kTotal, working);
    ASSERT_TRUE(from);
    if (row.bytes.size() > kBytes.size()) {
      LARGE_INTEGER at{};
      at.QuadPart = static_cast<LONGLONG>(kBytes.size());
      ASSERT_TRUE(SetFilePointerEx(working.get(), at, nullptr, FILE_BEGIN));
      const std::string more = row.bytes.substr(kBytes.size());
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(working.get(), more.data(), static_cast<DWORD>(more.size()), &written, nullptr));
    }
    const FetchProgress worker = Reached(row.reached);
    keeper->KeepOrDiscard(std::move(working), kUrl, kTotal, StandingAfterFetch(from, row.worker_ran ? &worker : nullptr));
    keeper.reset();
    EXPECT_EQ(Read(scratch.Data()), row.bytes);
    EXPECT_EQ(Read(scratch.Record()),
              FormatKeptDownload(Record(kUrl, static_cast<std::int64_t>(row.bytes.size()))));
  }
}

}  // namespace
}  // namespace kelvora
