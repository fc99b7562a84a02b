// Drives irdload.exe through Win32 messages, as an operator's hands would: a Windows program that
// the Linux test (WineDialogTest.cpp) runs under wine beside irdload.exe. Each case is one run,
// `irdload-dialog-driver CASE ...`; what it saw goes to standard output as "name: value" lines,
// and every check that failed as a "FAIL:" line. Exit 0: every check held; 1: one failed; 2: usage.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/Win32Text.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::cout << "FAIL: " << what << std::endl;
}

std::string Text(HWND window) {
  wchar_t buffer[4096] = {};
  DWORD_PTR got = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 5000, &got);
  return Utf8FromWide(buffer);
}

std::string ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return Utf8FromWide(name);
}

// Waits, at most `bound`, for `find` to give a window.
HWND Await(const std::function<HWND()>& find, std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  while (Clock::now() < deadline) {
    if (HWND found = find()) return found;
    std::this_thread::sleep_for(50ms);
  }
  return nullptr;
}

// A top-level dialog box (class #32770) owned by `owner`, with this title when one is given.
HWND OwnedDialog(HWND owner, const std::string& title) {
  struct Search {
    HWND owner;
    std::string title;
    HWND found = nullptr;
  } search{owner, title};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (!::IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
        if (::GetWindow(window, GW_OWNER) != s.owner) return TRUE;
        if (!s.title.empty() && Text(window) != s.title) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Every static text in a box, joined by new lines: a message box's text.
std::string StaticTexts(HWND box) {
  std::string texts;
  ::EnumChildWindows(
      box,
      [](HWND child, LPARAM data) -> BOOL {
        auto& out = *reinterpret_cast<std::string*>(data);
        // An icon control's "text" names its icon resource.
        const bool icon = (::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        const std::string text = Text(child);
        if (ClassOf(child) == "Static" && !icon && !text.empty()) {
          out += (out.empty() ? "" : "\n") + text;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

void Press(HWND dialog, int id) {
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

// The dialog once its initialisation is over: it shows only after WM_INITDIALOG has returned,
// and a choice made before then would be overwritten by the initial one.
HWND MainDialog() {
  return Await(
      [] {
        HWND main = ::FindWindowW(L"#32770", L"Zembrin 1.0");
        return main != nullptr && ::IsWindowVisible(main) ? main : nullptr;
      },
      60s);
}

// Answers the file dialog titled `title` with `path`.
bool AnswerFileDialog(HWND main, const std::string& title, const std::string& path) {
  HWND dialog = Await([&] { return OwnedDialog(main, title); }, 30s);
  if (dialog == nullptr) return false;
  const std::wstring wide = WideFromUtf8(path);
  // The Explorer style's file name box (cmb13), or the older edit field (edt1).
  HWND name = ::GetDlgItem(dialog, 0x47C);
  if (name == nullptr) name = ::GetDlgItem(dialog, 0x480);
  if (name == nullptr) return false;
  ::SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  Press(dialog, IDOK);
  return Await([&] { return ::IsWindow(dialog) ? nullptr : main; }, 30s) != nullptr;
}

// The port list's entries, for a failure's words.
std::string PortEntries(HWND list) {
  std::string entries;
  const auto count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t item[512] = {};
    if (::SendMessageW(list, CB_GETLBTEXTLEN, i, 0) < 500) {
      ::SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
    }
    entries += (entries.empty() ? "" : ", ") + Utf8FromWide(item);
  }
  return entries;
}

bool ChoosePort(HWND main, const std::string& port) {
  HWND list = ::GetDlgItem(main, 1000);
  const std::wstring wide = WideFromUtf8(port);
  const LRESULT at = ::SendMessageW(list, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>(wide.c_str()));
  if (at == CB_ERR) {
    std::cout << "ports: " << PortEntries(list) << std::endl;
    return false;
  }
  // A selection made by a message does not notify; the operator's does.
  ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(1000, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  return true;
}

std::string Field(HWND main, int id) {
  return Text(::GetDlgItem(main, id));
}

void Report(HWND main) {
  for (const int id : {1000, 1010, 1011, 1007, 1014, 1012, 1013, 1016, 1006}) {
    std::string text = Field(main, id);
    for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n")) {
      text.replace(at, 2, "|");
    }
    std::cout << "field " << id << ": " << text << std::endl;
  }
}

// Waits for the message box that ends a download; says its text and closes it.
bool AnswerEndMessage(HWND main, std::chrono::milliseconds bound) {
  HWND box = Await([&] { return OwnedDialog(main, "irdload"); }, bound);
  if (box == nullptr) {
    Report(main);  // where the dialog stood when it stopped moving
    return false;
  }
  std::this_thread::sleep_for(300ms);  // the fields take the batch that came with the box
  std::cout << "message: " << StaticTexts(box) << std::endl;
  Report(main);
  Press(box, IDOK);
  return true;
}

bool ChooseFiles(HWND main, const std::vector<std::string>& files) {
  Press(main, 1003);
  if (!AnswerFileDialog(main, "Select File", files[0])) return false;
  if (files.size() > 1 && !AnswerFileDialog(main, "Select Second File", files[1])) return false;
  std::cout << "files: " << Field(main, 1006) << std::endl;
  return true;
}

// irdload-dialog-driver send PORT FILE [SECOND]: a whole download, then the dialog ends.
void Send(const std::vector<std::string>& a) {
  HWND main = MainDialog();
  if (main == nullptr) return Check(false, "no window \"Zembrin 1.0\"");
  if (!ChoosePort(main, a[0])) return Check(false, "the port list has no " + a[0]);
  const std::vector<std::string> files(a.begin() + 1, a.end());
  if (!ChooseFiles(main, files)) return Check(false, "the file dialogs did not take the files");
  // The port the download goes to is the one the list shows when Send is pressed.
  const std::string shown = Field(main, 1000);
  if (shown != a[0]) return Check(false, "the port list shows \"" + shown + "\", not " + a[0]);
  Press(main, 1002);
  Check(AnswerEndMessage(main, 200s), "no message box ended the download");
  // Idle now: the dialog ends at once, asking nothing.
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  Check(Await([&] { return ::IsWindow(main) ? nullptr : main; }, 30s) != nullptr,
        "the idle dialog did not end on WM_CLOSE");
}

// irdload-dialog-driver list-refresh PORT: a port shown in the list stays chosen when the list is
// rebuilt (an adapter plugged in) before the list's own notice of the choice has come.
void ListRefresh(const std::vector<std::string>& a) {
  HWND main = MainDialog();
  if (main == nullptr) return Check(false, "no window \"Zembrin 1.0\"");
  HWND list = ::GetDlgItem(main, 1000);
  const std::wstring wide = WideFromUtf8(a[0]);
  if (::SendMessageW(list, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(wide.c_str())) == CB_ERR) {
    return Check(false, "the port list has no " + a[0]);
  }
  ::SendMessageW(main, WM_DEVICECHANGE, 0x8000 /* DBT_DEVICEARRIVAL */, 0);
  const std::string shown = Field(main, 1000);
  std::cout << "shown after the refresh: " << shown << std::endl;
  Check(shown == a[0], "the rebuilt list shows \"" + shown + "\", not " + a[0]);
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  Check(Await([&] { return ::IsWindow(main) ? nullptr : main; }, 30s) != nullptr,
        "the idle dialog did not end on WM_CLOSE");
}

// irdload-dialog-driver end-mid-download PORT FILE: each way of ending asks while a download
// runs; "No" (the default) keeps it going, "Yes" ends the program.
void EndMidDownload(const std::vector<std::string>& a) {
  HWND main = MainDialog();
  if (main == nullptr) return Check(false, "no window \"Zembrin 1.0\"");
  if (!ChoosePort(main, a[0])) return Check(false, "the port list has no " + a[0]);
  if (!ChooseFiles(main, {a[1]})) return Check(false, "the file dialog did not take the file");
  Press(main, 1002);
  HWND packets = ::GetDlgItem(main, 1011);
  const auto advanced = [&](int beyond) {
    return Await([&] { return std::atoi(Text(packets).c_str()) > beyond ? main : nullptr; }, 60s);
  };
  Check(advanced(1) != nullptr, "the download did not get going");
  struct Way {
    const char* name;
    std::function<void()> ask;
  };
  const Way ways[] = {
      {"OK", [&] { Press(main, IDOK); }},
      {"Cancel", [&] { Press(main, 1009); }},
      {"Escape", [&] { ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0); }},
      {"close", [&] { ::PostMessageW(main, WM_CLOSE, 0, 0); }},
  };
  for (const Way& way : ways) {
    way.ask();
    HWND question = Await([&] { return OwnedDialog(main, "irdload"); }, 20s);
    if (question == nullptr) {
      Check(false, std::string(way.name) + ": no question");
      return;
    }
    const std::string text = StaticTexts(question);
    std::cout << "question " << way.name << ": " << text << std::endl;
    // "No" is the default: Enter answers it.
    const LONG_PTR noStyle = ::GetWindowLongPtrW(::GetDlgItem(question, IDNO), GWL_STYLE);
    Check((noStyle & 0x0F) == BS_DEFPUSHBUTTON,
          std::string(way.name) + ": \"No\" is not the default");
    const int before = std::atoi(Text(packets).c_str());
    Press(question, IDNO);
    Check(Await([&] { return ::IsWindow(question) ? nullptr : main; }, 20s) != nullptr,
          std::string(way.name) + ": the question stayed");
    Check(::IsWindow(main), std::string(way.name) + ": the dialog ended after No");
    Check(advanced(before) != nullptr, std::string(way.name) + ": the download stopped after No");
  }
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  HWND question = Await([&] { return OwnedDialog(main, "irdload"); }, 20s);
  if (question == nullptr) return Check(false, "no question on the last close");
  Press(question, IDYES);
  Check(Await([&] { return ::IsWindow(main) ? nullptr : main; }, 30s) != nullptr,
        "the dialog did not end after Yes");
}

// Says where `window` is on the screen, then waits for the word that its picture was taken.
void Pose(const char* name, HWND window) {
  std::this_thread::sleep_for(500ms);  // painted
  RECT r{};
  ::GetWindowRect(window, &r);
  std::cout << "pose " << name << " " << r.left << " " << r.top << " " << (r.right - r.left) << " "
            << (r.bottom - r.top) << std::endl;
  std::string word;
  std::getline(std::cin, word);
}

// irdload-dialog-driver pictures FILE: the dialog mid-download on the Virtual IRD, the About box,
// and the question on ending, each posed for a picture (see ./run screenshot).
void Pictures(const std::vector<std::string>& a) {
  HWND main = MainDialog();
  if (main == nullptr) return Check(false, "no window \"Zembrin 1.0\"");
  Pose("main-idle", main);
  if (!ChoosePort(main, "Virtual IRD")) return Check(false, "the port list has no Virtual IRD");
  if (!ChooseFiles(main, {a[0]})) return Check(false, "the file dialog did not take the file");
  Press(main, 1002);
  HWND progress = ::GetDlgItem(main, 1005);
  const bool midway = Await(
                          [&] {
                            const auto total = ::SendMessageW(progress, PBM_GETRANGE, FALSE, 0);
                            const auto at = ::SendMessageW(progress, PBM_GETPOS, 0, 0);
                            return total > 0 && at * 3 >= total ? main : nullptr;
                          },
                          120s) != nullptr;
  Check(midway, "the download did not get a third of the way");
  Pose("main-download", main);
  ::PostMessageW(main, WM_SYSCOMMAND, 0x10, 0);
  HWND about = Await([&] { return OwnedDialog(main, "About Zembrin"); }, 20s);
  if (about == nullptr) return Check(false, "no About box");
  Pose("about", about);
  Press(about, IDOK);
  Await([&] { return ::IsWindow(about) ? nullptr : main; }, 20s);
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  HWND question = Await([&] { return OwnedDialog(main, "irdload"); }, 20s);
  if (question == nullptr) return Check(false, "no question on ending mid-download");
  Pose("main-end-question", main);
  Press(question, IDYES);
}

// One control of template 102: its ID and its rectangle in dialog units.
struct TemplateControl {
  int id;
  RECT units;  // left, top, width, height as the template gives them
};

// Template 102 in template order, which is the order the dialog creates its children in.
const TemplateControl kMainTemplate[] = {
    {1, {34, 169, 50, 14}},     {1009, {288, 169, 50, 14}}, {1007, {57, 127, 28, 14}},
    {1000, {61, 44, 50, 72}},   {1001, {233, 44, 113, 14}}, {1002, {115, 44, 113, 14}},
    {1004, {13, 10, 58, 8}},    {1003, {297, 7, 50, 14}},   {-1, {13, 47, 22, 8}},
    {1008, {61, 63, 23, 14}},   {1005, {13, 107, 333, 14}}, {1010, {61, 84, 286, 14}},
    {1011, {315, 128, 28, 14}}, {1012, {277, 63, 23, 14}},  {1013, {323, 63, 23, 14}},
    {1014, {170, 128, 28, 14}}, {-1, {13, 66, 42, 8}},      {-1, {141, 131, 23, 8}},
    {1017, {112, 66, 37, 8}},   {1016, {153, 63, 23, 14}},  {1006, {71, 7, 220, 31}},
    {-1, {13, 87, 38, 8}},      {-1, {240, 66, 31, 8}},     {-1, {285, 131, 27, 8}},
    {-1, {13, 131, 35, 8}},     {-1, {93, 131, 15, 8}},     {-1, {201, 131, 15, 8}},
    {-1, {306, 66, 13, 8}},
};

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// irdload-dialog-driver layout PROGRAM.exe: every control of the running dialog sits where the
// template's dialog units put it, as MapDialogRect maps them for the template's own font.
void Layout(const std::vector<std::string>& a) {
  HWND main = MainDialog();
  if (main == nullptr) return Check(false, "no window \"Zembrin 1.0\"");
  // The same template, made here from the program file, gives the units' size in pixels.
  const HMODULE program =
      ::LoadLibraryExW(WideFromUtf8(a[0]).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (program == nullptr) return Check(false, "cannot read " + a[0]);
  HWND units = ::CreateDialogParamW(program, MAKEINTRESOURCEW(102), nullptr, Quiet, 0);
  if (units == nullptr) return Check(false, "cannot make template 102 from " + a[0]);
  ::ShowWindow(units, SW_HIDE);
  RECT dialogUnits{0, 0, 365, 200};
  ::MapDialogRect(units, &dialogUnits);
  RECT client{};
  ::GetClientRect(main, &client);
  std::cout << "client: " << client.right << "x" << client.bottom
            << " for 365x200 units: " << dialogUnits.right << "x" << dialogUnits.bottom
            << std::endl;
  Check(client.right == dialogUnits.right && client.bottom == dialogUnits.bottom,
        "the client area is not the template's 365 x 200 units");
  // Fields that grow to their widest text: ID, and whether they grow to the left.
  static const std::map<int, bool> kWidened = {
      {1007, false}, {1014, false}, {1011, true}, {1008, false}, {1016, false}};
  // Labels that move with such a field: template index -> (field, moves left).
  static const std::map<std::size_t, std::pair<int, bool>> kMovedWith = {
      {23, {1011, true}}, {25, {1007, false}}, {26, {1014, false}}};
  std::map<int, int> growth;
  std::size_t index = 0;
  for (HWND child = ::GetWindow(main, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT), ++index) {
    if (index >= std::size(kMainTemplate)) {
      Check(false, "a control beyond the template: " + ClassOf(child));
      continue;
    }
    const TemplateControl& c = kMainTemplate[index];
    const int id = ::GetDlgCtrlID(child);
    const std::string name = "control " + std::to_string(index) + " (ID " + std::to_string(c.id) +
                             ", \"" + Text(child) + "\")";
    Check(id == c.id || (c.id == -1 && (id == 0xFFFF || id == -1)),
          name + ": has ID " + std::to_string(id));
    // As a dialog makes a control: its position and its size each mapped from units.
    RECT at{c.units.left, c.units.top, c.units.right, c.units.bottom};
    ::MapDialogRect(units, &at);
    const RECT expected{at.left, at.top, at.left + at.right, at.top + at.bottom};
    RECT seen{};
    ::GetWindowRect(child, &seen);
    ::MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&seen), 2);
    // A drop-down combo box is as tall as its edit field; its 72 units are the open list's.
    const bool combo = c.id == 1000;
    // The number and time fields grow to show their widest text (1011 to its left), and the
    // label beside each moves by as much; everything else is exactly where the units say.
    const auto widened = kWidened.find(c.id);
    const auto moved = kMovedWith.find(index);
    bool same = seen.top == expected.top && (combo || seen.bottom == expected.bottom);
    if (widened != kWidened.end()) {
      const bool left = widened->second;
      same = same && (left ? seen.right == expected.right : seen.left == expected.left) &&
             seen.right - seen.left >= expected.right - expected.left;
      growth[c.id] = (seen.right - seen.left) - (expected.right - expected.left);
    } else if (moved != kMovedWith.end()) {
      const int by = growth[moved->second.first] * (moved->second.second ? -1 : 1);
      same = same && seen.left == expected.left + by && seen.right == expected.right + by;
    } else {
      same = same && seen.left == expected.left && seen.right == expected.right;
    }
    Check(same, name + ": at " + std::to_string(seen.left) + "," + std::to_string(seen.top) + " " +
                    std::to_string(seen.right - seen.left) + "x" +
                    std::to_string(seen.bottom - seen.top) + ", the template says " +
                    std::to_string(expected.left) + "," + std::to_string(expected.top) + " " +
                    std::to_string(expected.right - expected.left) + "x" +
                    std::to_string(expected.bottom - expected.top));
  }
  Check(index == std::size(kMainTemplate), "the dialog has " + std::to_string(index) +
                                               " controls, the template " +
                                               std::to_string(std::size(kMainTemplate)));
  HWND receive = ::GetDlgItem(main, 1001);
  Check(!::IsWindowVisible(receive) && !::IsWindowEnabled(receive),
        "button 1001 is shown or enabled");
  // The window menu ends with the About item, which opens the About box.
  ::PostMessageW(main, WM_SYSCOMMAND, 0x10, 0);
  HWND about = Await([&] { return OwnedDialog(main, "About Zembrin"); }, 20s);
  Check(about != nullptr, "the About item opened no \"About Zembrin\"");
  if (about != nullptr) {
    std::cout << "about: " << StaticTexts(about) << std::endl;
    Press(about, IDOK);
  }
  ::DestroyWindow(units);
  ::PostMessageW(main, WM_CLOSE, 0, 0);
}

}  // namespace
}  // namespace irdload

int main() {
  using namespace irdload;
  // The words in UTF-8 from the wide command line: paths in any script come whole.
  int argc = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  struct Case {
    std::size_t leastArgs;
    std::function<void(const std::vector<std::string>&)> run;
  };
  const std::map<std::string, Case> cases = {
      {"send", {2, Send}},
      {"end-mid-download", {2, EndMidDownload}},
      {"list-refresh", {1, ListRefresh}},
      {"layout", {1, Layout}},
      {"pictures", {1, Pictures}},
  };
  const auto it = argc >= 2 ? cases.find(words[1]) : cases.end();
  if (it == cases.end() || static_cast<std::size_t>(argc - 2) < it->second.leastArgs) {
    std::cerr << "usage: irdload-dialog-driver send PORT FILE [SECOND] | end-mid-download PORT "
                 "FILE | list-refresh PORT | layout PROGRAM.exe"
              << std::endl;
    return 2;
  }
  it->second.run(std::vector<std::string>(words.begin() + 2, words.end()));
  std::cout << (failures == 0 ? "PASS" : "FAILED") << std::endl;
  return failures == 0 ? 0 : 1;
}
