#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>

#include "cli/Os.h"
#include "serial/Win32Text.h"

namespace irdload::cli {
namespace {

std::atomic<int> pressed{0};

// Runs on a thread of the console's own. Ctrl-C and Ctrl-Break ask for a stop; closing the
// window or logging off end the process as usual.
BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  pressed.fetch_add(1);
  return TRUE;
}

}  // namespace

struct StopKeys::Os {};

StopKeys::StopKeys(bool active) {
  if (!active) return;
  os_ = std::make_unique<Os>();
  pressed.store(0);
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

StopKeys::~StopKeys() {
  if (os_) ::SetConsoleCtrlHandler(OnControl, FALSE);
}

bool StopKeys::Pressed() {
  return os_ && pressed.exchange(0) > 0;
}

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> words;
  for (int i = 0; i < count; ++i) {
    const std::string word = Utf8FromWide(wide[i]);
    // Windows' programs answer "/?" with their help; every other word keeps its meaning, so a
    // path that starts with "/" stays a path.
    words.push_back(i > 0 && word == "/?" ? "--help" : word);
  }
  ::LocalFree(wide);
  return words;
}

void PrepareConsole() {
  ::SetConsoleOutputCP(CP_UTF8);
}

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// The window's size, not the buffer's: a buffer wider than its window would hide the end of a
// line that fits the buffer.
TerminalSize StandardOutputSize() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {};
  return {info.srWindow.Right - info.srWindow.Left + 1,
          info.srWindow.Bottom - info.srWindow.Top + 1};
}

std::string HostName() {
  char host[256] = {};
  DWORD size = sizeof host;
  return ::GetComputerNameExA(ComputerNameDnsHostname, host, &size) ? std::string(host, size)
                                                                    : std::string();
}

}  // namespace irdload::cli
