// The report folder: refused at the start when it takes no record (read-only, full), and records
// that never overwrite one another.
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
    auto slot = folder.Reserve(&error);
    ASSERT_TRUE(slot) << error;
    ASSERT_TRUE(folder.Commit(*slot, "same", "{}", "x\n", &path, &error)) << error;
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

}  // namespace
}  // namespace irdload::unit
