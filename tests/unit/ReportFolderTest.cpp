// The report folder: refused at the start when it takes no record (read-only, full), records
// that never overwrite one another, room set aside for each record before its unit, and a
// record that cannot be completed leaving nothing behind: no temporary file, no record without
// its line in units.csv, no half line, and never a path to a folder that is gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/Child.h"
#include "support/Records.h"
#include "support/TempDir.h"
#include "unit/ReportFolder.h"

namespace irdload::unit {
namespace {

namespace fs = std::filesystem;

TEST(ReportFolderTest, MadeWithItsCsvHeaderAndRecordsNeverOverwriteOneAnother) {
  test::TempDir dir;
  ReportFolder folder((dir.path() / "a" / "b").string());
  std::string error;
  ASSERT_TRUE(folder.Prepare(&error)) << error;
  EXPECT_EQ(test::CsvLines(dir.path() / "a" / "b"), 1u);
  std::string paths[2];
  for (std::string& path : paths) {
    auto slot = folder.Reserve(4096, &error);
    ASSERT_TRUE(slot) << error;
    ASSERT_TRUE(folder.Commit(std::move(slot), "same", "{}", "x\n", &path, &error)) << error;
  }
  EXPECT_NE(paths[0], paths[1]);
  EXPECT_TRUE(fs::exists(paths[0]) && fs::exists(paths[1]));
  // A second start keeps what is there.
  ASSERT_TRUE(folder.Prepare(&error)) << error;
  EXPECT_EQ(test::CsvLines(dir.path() / "a" / "b"), 3u);
  // Nothing is left behind by the reservations.
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path() / "a" / "b")) files += e.is_regular_file();
  EXPECT_EQ(files, 3u);
}

TEST(ReportFolderTest, ReadOnlyOrFullFolderIsRefusedAtTheStart) {
  test::TempDir dir;
  const fs::path readOnly = dir.path() / "ro";
  fs::create_directories(readOnly);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(readOnly.c_str(), 0555);
  struct Case {
    const char* name;
    std::function<bool()> setUp;  // in the child
    fs::path folder;
    const char* fragment;
  };
  const Case cases[] = {
      {"read-only", [] { return ::geteuid() != 0 || test::BecomeNobody(); }, readOnly,
       "Permission denied"},
      {"full",
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit cap{400, 400};
         return ::setrlimit(RLIMIT_FSIZE, &cap) == 0;
       },
       dir.path() / "full", "no room"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::ChildResult child = test::RunInChild([&](std::string& text) {
      if (!c.setUp()) return 100;
      ReportFolder folder(c.folder.string());
      return folder.Prepare(&text) ? 0 : 1;
    });
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(child.code, 1) << child.text;
    EXPECT_NE(child.text.find(c.fragment), std::string::npos) << child.text;
    EXPECT_NE(child.text.find(c.folder.string()), std::string::npos) << child.text;
  }
}

std::size_t Entries(const fs::path& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
  return n;
}

std::string Text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Room is set aside when the unit starts: a disk that fills meanwhile cannot take the record's
// place. A temporary file is removed when its unit does not happen.
TEST(ReportFolderTest, RoomIsSetAsideAndGivenBack) {
  test::TempDir dir;
  ReportFolder folder((dir.path() / "out").string());
  std::string error;
  ASSERT_TRUE(folder.Prepare(&error)) << error;
  {
    auto slot = folder.Reserve(50000, &error);
    ASSERT_TRUE(slot) << error;
    EXPECT_EQ(slot->reserved(), 50000u);
    EXPECT_EQ(Entries(dir.path() / "out"), 2u) << "units.csv and the reservation";
  }
  EXPECT_EQ(Entries(dir.path() / "out"), 1u) << "a unit that did not happen leaves nothing";
  // More room than the disk gives (a file size cap stands for a full disk here).
  const test::ChildResult child = test::RunInChild([&](std::string& text) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{20000, 20000};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) return 100;
    const bool reserved = folder.Reserve(50000, &text) != nullptr;
    return reserved ? 1 : 0;
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(child.code, 0) << child.text;
  EXPECT_NE(child.text.find("no room for records"), std::string::npos) << child.text;
  EXPECT_EQ(Entries(dir.path() / "out"), 1u);
}

// The folder is removed while a unit loads: its record cannot be written, and no path is given
// for it; a new folder under the same name is not taken for the old one.
TEST(ReportFolderTest, RecordOfAFolderThatIsGoneFailsWithoutAPath) {
  struct Case {
    const char* name;
    bool makeAgain;
  };
  for (const Case c : {Case{"removed", false}, Case{"removed and made again", true}}) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path out = dir.path() / "out";
    ReportFolder folder(out.string());
    std::string error, path = "unchanged";
    ASSERT_TRUE(folder.Prepare(&error)) << error;
    auto slot = folder.Reserve(4096, &error);
    ASSERT_TRUE(slot) << error;
    fs::remove_all(out);
    if (c.makeAgain) fs::create_directories(out);
    EXPECT_FALSE(folder.Commit(std::move(slot), "unit", "{}", "x\n", &path, &error));
    EXPECT_TRUE(path.empty()) << path;
    EXPECT_FALSE(error.empty());
    if (c.makeAgain) {
      EXPECT_EQ(Entries(out), 0u) << "the new folder holds no record";
    }
    EXPECT_FALSE(folder.Reserve(4096, &error)) << "no unit starts on a folder that is gone";
  }
}

// units.csv cannot take the line (the disk is full): the record goes too, and the CSV keeps no
// half line that would join the next unit's.
TEST(ReportFolderTest, RecordWhoseLineCannotBeAddedLeavesNothing) {
  test::TempDir dir;
  const fs::path out = dir.path() / "out";
  ReportFolder folder(out.string());
  std::string error;
  ASSERT_TRUE(folder.Prepare(&error)) << error;
  const std::string before = Text(out / "units.csv");
  const test::ChildResult child = test::RunInChild([&](std::string& text) {
    ::signal(SIGXFSZ, SIG_IGN);
    auto slot = folder.Reserve(4096, &text);
    if (!slot) return 100;
    const rlimit cap{before.size() + 10, before.size() + 10};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) return 101;
    std::string path;
    if (folder.Commit(std::move(slot), "unit", "{}", std::string(200, 'x') + "\n", &path, &text)) {
      return 1;
    }
    return path.empty() ? 0 : 2;
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(child.code, 0) << child.text;
  EXPECT_NE(child.text.find("units.csv"), std::string::npos) << child.text;
  EXPECT_EQ(Text(out / "units.csv"), before);
  EXPECT_EQ(Entries(out), 1u) << "neither the record nor its temporary file stays";
}

// A run that was killed left its temporary files: the next start removes them, but never one a
// live writer holds.
TEST(ReportFolderTest, TemporaryFilesOfAKilledRunAreRemoved) {
  test::TempDir dir;
  const fs::path out = dir.path() / "out";
  ReportFolder live(out.string());
  std::string error;
  ASSERT_TRUE(live.Prepare(&error)) << error;
  auto held = live.Reserve(4096, &error);
  ASSERT_TRUE(held) << error;
  std::ofstream(out / ".record-killed") << "{";
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(out / ".record-killed", old);
  for (const auto& e : fs::directory_iterator(out)) fs::last_write_time(e.path(), old);
  ReportFolder next(out.string());
  ASSERT_TRUE(next.Prepare(&error)) << error;
  EXPECT_FALSE(fs::exists(out / ".record-killed"));
  EXPECT_EQ(Entries(out), 2u) << "units.csv and the live reservation";
  std::string path;
  EXPECT_TRUE(live.Commit(std::move(held), "unit", "{}", "x\n", &path, &error)) << error;
}

}  // namespace
}  // namespace irdload::unit
