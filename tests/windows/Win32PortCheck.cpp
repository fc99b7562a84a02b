// The Win32 layer's own checks, as a Windows program: SerialPort over Win32Port.cpp, and the
// upgrade file over ImageFileWin32.cpp. Each case is one run, `irdload-win32-check CASE ...`;
// under wine the Linux test (WineWin32PortTest.cpp) plays the far end of the pseudo-terminal
// behind the COM port. The program writes 0xA5 when it is ready for the far end, and waits for
// a line on standard input where the far end must tell it that bytes are queued.
// Exit code 0: every check held; 1: a check failed (each failure on a "FAIL:" line); 77: the
// case cannot run here ("SKIP:" line); 2: usage.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "engine/ImageFile.h"
#include "ports/PortAdvice.h"
#include "serial/PortName.h"
#include "serial/SerialPort.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kMode = "115200,N,8,1";
constexpr std::uint8_t kReady = 0xA5;

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::cout << "FAIL: " << what << std::endl;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char b[4];
  for (const std::uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x ", v);
    text += b;
  }
  return text;
}

// Waits for the far end's word on standard input.
void AwaitLine(const std::string& word) {
  std::string line;
  while (std::getline(std::cin, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line == word) return;
  }
  Check(false, "standard input ended before \"" + word + "\"");
}

bool OpenOrFail(SerialPort& port, const std::string& name) {
  if (port.Open(name, kMode) == 1) return true;
  Check(false, "open " + name + ": " + port.lastOpenFailure().detail);
  return false;
}

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

using Args = std::vector<std::string>;

// The far end queued bytes before the program started: the purge of the open discards them.
void PurgeAtOpen(const Args& a) {
  SerialPort port(10000ms);
  if (!OpenOrFail(port, a[0])) return;
  std::uint8_t buf[16];
  Check(port.Read(buf, sizeof buf) == 0, "bytes from before the open were delivered");
  port.WriteByte(kReady);
  std::uint8_t b = 0;
  Check(port.ReadByte(b) == 1 && b == 0xE7, "the byte sent after the open did not come first");
}

// Reads take what is waiting, no more than asked, and nothing when nothing is.
void BytesWaiting(const Args& a) {
  SerialPort port;
  if (!OpenOrFail(port, a[0])) return;
  std::uint8_t buf[8] = {};
  Check(port.Read(buf, 5) == 0, "a read of an empty line gave bytes");
  port.WriteByte(kReady);
  AwaitLine("queued");
  Check(port.Read(buf, 2) == 2 && buf[0] == 1 && buf[1] == 2, "the first two of three bytes");
  Check(port.Read(buf, 5) == 1 && buf[0] == 3, "the last of three bytes, asking for five");
  Check(port.Read(buf, 5) == 0, "a read after the queue emptied gave bytes");
}

// The 50 pauses of 1 ms: a silent line answers 0 after them, not before, and leaves the byte
// alone; a byte that comes during a longer wait is taken.
void PauseBound(const Args& a) {
  {
    SerialPort classic;
    if (!OpenOrFail(classic, a[0])) return;
    std::uint8_t b = 0x5A;
    const auto start = Clock::now();
    Check(classic.ReadByte(b) == 0, "a silent line gave a byte");
    const auto took = Clock::now() - start;
    Check(b == 0x5A, "the byte was touched");
    Check(took >= 50ms, "the wait ended before its 50 pauses");
    Check(took < 5s, "the wait on a silent line lasted 5 s or more");
  }
  SerialPort patient(3000ms);
  if (!OpenOrFail(patient, a[0])) return;
  patient.WriteByte(kReady);
  std::uint8_t b = 0;
  Check(patient.ReadByte(b) == 1 && b == 0x44, "the byte sent during the pauses was missed");
}

// The far end hangs up: the wait ends (it does not sit out its minute), the port says the line
// is lost, and writes still report 1 with the reason kept.
void HangUp(const Args& a) {
  SerialPort port(60000ms);
  if (!OpenOrFail(port, a[0])) return;
  port.WriteByte(kReady);
  std::uint8_t b = 0x11;
  const auto start = Clock::now();
  Check(port.ReadByte(b) == 0, "a byte came from a hung-up line");
  Check(Clock::now() - start < 30s, "the wait went on after the hang-up");
  Check(b == 0x11, "the byte was touched");
  Check(port.lineLost(), "the line was not reported lost");
  Check(port.WriteByte(0xE1) == 1, "a write after the hang-up did not report 1");
  Check(!port.lastTransferError().empty(), "the failed write left no reason");
  const auto again = Clock::now();
  Check(port.ReadByte(b) == 0, "a second read of the lost line gave a byte");
  Check(Clock::now() - again < 30s, "a second read of the lost line waited");
}

// Exact bytes both ways, whatever they are; the far end checks the line settings meanwhile.
void BytesAndSettings(const Args& a) {
  SerialPort port;
  if (!OpenOrFail(port, a[0])) return;
  Check(port.settingsVerified(), "the line settings did not read back as asked");
  const char text[] = "abc\0def";
  Check(port.Write(text, 0) == 1, "Write of a text");
  Check(port.WriteByte(0x1E1) == 1, "WriteByte(0x1E1)");
  Check(port.WriteByte(0x00) == 1, "WriteByte(0)");
  const std::uint8_t raw[] = {0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x7F};
  Check(port.Write(raw, sizeof raw) == 1, "Write of six bytes");
  AwaitLine("queued");
  std::vector<std::uint8_t> in(6);
  Check(port.Read(in.data(), 6) == 6, "six bytes waiting");
  const std::vector<std::uint8_t> expected = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A};
  Check(in == expected, "received " + Hex(in));
  AwaitLine("checked");
}

// Close, then open another port (COM10 and above too); the first is free again.
void CloseReopen(const Args& a) {
  SerialPort port;
  if (!OpenOrFail(port, a[0])) return;
  port.Close();
  if (!OpenOrFail(port, a[1])) return;
  port.WriteByte(0xEF);
  SerialPort again;
  Check(again.Open(a[0], kMode) == 1, "the first port stayed taken after Close");
  AwaitLine("received");
}

void OpenFailures(const Args&) {
  struct Case {
    std::string name, fragment;
  };
  const Case cases[] = {
      {"COM9", "no such port"},
      {"COM0", "names no serial port"},
      {"LPT1", "names no serial port"},
      {"\\\\.\\NUL", "is not a serial port"},
  };
  for (const Case& c : cases) {
    SerialPort port(3ms);
    port.SetAdvice(SystemPortAdvice());
    Check(port.Open(c.name, kMode) == 0, c.name + " opened");
    Check(port.lastOpenFailure().message == c.name + " Open Error!",
          c.name + ": message \"" + port.lastOpenFailure().message + "\"");
    Check(port.lastOpenFailure().detail.find(c.fragment) != std::string::npos,
          c.name + ": detail \"" + port.lastOpenFailure().detail + "\"");
    Check(port.WriteByte(0xE1) == 1, c.name + ": WriteByte after a failed open");
    std::uint8_t b = 0x5A;
    Check(port.ReadByte(b) == 0 && b == 0x5A, c.name + ": ReadByte after a failed open");
  }
}

void PortInUse(const Args& a) {
  if (UnderWine()) {
    std::cout << "SKIP: wine does not enforce share mode 0 on serial ports, and root bypasses "
                 "TIOCEXCL"
              << std::endl;
    std::exit(77);
  }
  SerialPort holder;
  if (!OpenOrFail(holder, a[0])) return;
  SerialPort second;
  second.SetAdvice(SystemPortAdvice());
  Check(second.Open(a[0], kMode) == 0, "a port in use opened twice");
  Check(second.lastOpenFailure().detail.find("another program") != std::string::npos,
        "detail \"" + second.lastOpenFailure().detail + "\"");
}

void PortNames(const Args&) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "\\\\.\\COM1"},
      {"COM10", "\\\\.\\COM10"},
      {"com12", "\\\\.\\COM12"},
      {"COM0", ""},
      {"COM", ""},
      {"LPT1", ""},
      {"\\\\.\\COM3", "\\\\.\\COM3"},
  };
  for (const auto& [name, path] : cases) {
    Check(DevicePathForPortName(name) == path,
          std::string(name) + " -> " + DevicePathForPortName(name));
  }
}

// The upgrade file: a file reads back, and a folder, a device, a missing file and a file that
// another program writes are refused with their reasons.
void ImageFiles(const Args&) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("irdload-check-" + std::to_string(::GetCurrentProcessId()));
  fs::create_directories(dir);
  const fs::path path = dir / "fw.uuc";
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 3000; ++i) out.put(static_cast<char>(i * 7));
  }
  {
    ImageFile file;
    std::string why;
    Check(file.Open(path.string(), &why), "open a file: " + why);
    Check(file.Length() == 3000, "length " + std::to_string(file.Length()));
    std::uint8_t buf[4] = {};
    Check(file.ReadAt(2998, buf, 4) == 2 && buf[0] == static_cast<std::uint8_t>(2998 * 7),
          "read at the end");
    // Others may read it meanwhile.
    ImageFile reader;
    Check(reader.Open(path.string(), &why), "a second reader: " + why);
  }
  struct Case {
    std::string path, fragment;
  };
  const Case cases[] = {
      {dir.string(), "is a folder"},
      {"NUL", "is not a regular file"},
      {(dir / "missing.uuc").string(), "missing.uuc: "},
  };
  for (const Case& c : cases) {
    ImageFile file;
    std::string why;
    Check(!file.Open(c.path, &why), c.path + " opened");
    Check(why.find(c.fragment) != std::string::npos, c.path + ": \"" + why + "\"");
  }
  const HANDLE writer = ::CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  Check(writer != INVALID_HANDLE_VALUE, "a writer of the file");
  ImageFile file;
  std::string why;
  Check(!file.Open(path.string(), &why), "a file open for writing elsewhere opened");
  Check(why.find("open for writing") != std::string::npos, "\"" + why + "\"");
  ::CloseHandle(writer);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace irdload

int main(int argc, char** argv) {
  using namespace irdload;
  struct Case {
    std::size_t ports;
    std::function<void(const Args&)> run;
  };
  const std::map<std::string, Case> cases = {
      {"purge-at-open", {1, PurgeAtOpen}},
      {"bytes-waiting", {1, BytesWaiting}},
      {"pause-bound", {1, PauseBound}},
      {"hang-up", {1, HangUp}},
      {"bytes-and-settings", {1, BytesAndSettings}},
      {"close-reopen", {2, CloseReopen}},
      {"open-failures", {0, OpenFailures}},
      {"port-in-use", {1, PortInUse}},
      {"port-names", {0, PortNames}},
      {"image-files", {0, ImageFiles}},
  };
  const auto it = argc >= 2 ? cases.find(argv[1]) : cases.end();
  if (it == cases.end() || static_cast<std::size_t>(argc - 2) != it->second.ports) {
    std::cerr << "usage: irdload-win32-check CASE [PORT...]; cases:";
    for (const auto& [name, c] : cases) std::cerr << ' ' << name;
    std::cerr << std::endl;
    return 2;
  }
  it->second.run(Args(argv + 2, argv + argc));
  std::cout << (failures == 0 ? "PASS" : "FAILED") << std::endl;
  return failures == 0 ? 0 : 1;
}
