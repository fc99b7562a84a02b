// The Windows release under wine: the installer installs silently, the installed programs run,
// the Start menu has the dialog, and the uninstaller takes it all away again.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "windows/Wine.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Waits, at most `bound`, for `done`.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(200ms);
  }
  return true;
}

TEST(WineInstallerTest, InstallsRunsAndUninstallsSilently) {
  const fs::path setup = IRDLOAD_WINDOWS_SETUP;
  if (!fs::exists(setup)) GTEST_SKIP() << "no installer built (" << setup << ")";
  const fs::path drive = fs::path(IRDLOAD_WINEPREFIX) / "drive_c";
  const fs::path folder = drive / "irdload-test";
  std::error_code ec;
  // The user's own Start menu: the installer asks for no administrator.
  fs::path menu;
  for (const auto& user : fs::directory_iterator(drive / "users", ec)) {
    const fs::path programs = user.path() / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
    if (fs::exists(programs)) menu = programs / "irdload";
  }
  ASSERT_FALSE(menu.empty()) << "no user's Start menu in the prefix";
  fs::remove_all(folder, ec);

  // NSIS: /S silent; /D= the folder, last and unquoted.
  const test::WineResult install =
      test::RunWine(setup.string(), {"/S", "/D=C:\\irdload-test"}, 120s);
  ASSERT_EQ(install.code, 0) << install.out << install.err;
  for (const char* file :
       {"irdload.exe", "irdload-cli.exe", "README.txt", "LICENSE.txt", "uninstall.exe"}) {
    EXPECT_TRUE(fs::exists(folder / file)) << file;
  }
  EXPECT_TRUE(fs::exists(menu / "Zembrin 1.0 (irdload).lnk")) << menu;

  const test::WineResult version =
      test::RunWine((folder / "irdload-cli.exe").string(), {"--version"});
  EXPECT_EQ(version.code, 0) << version.err;
  EXPECT_NE(version.out.find("irdload-cli "), std::string::npos) << version.out;
  const test::WineResult simulated =
      test::RunWine((folder / "irdload-cli.exe").string(),
                    {"send", "--simulate", test::WindowsPath(folder / "LICENSE.txt")});
  // LICENSE.txt is no upgrade file: the installed program refuses it, as it should.
  EXPECT_EQ(simulated.code, 2) << simulated.out << simulated.err;

  // The uninstaller copies itself away and runs from there: it ends before the files go.
  const test::WineResult uninstall =
      test::RunWine((folder / "uninstall.exe").string(), {"/S"}, 120s);
  EXPECT_EQ(uninstall.code, 0) << uninstall.err;
  EXPECT_TRUE(Eventually([&] { return !fs::exists(folder); }, 60s))
      << "the uninstaller left " << folder;
  EXPECT_TRUE(Eventually([&] { return !fs::exists(menu); }, 60s))
      << "the uninstaller left " << menu;
}

}  // namespace
}  // namespace irdload
