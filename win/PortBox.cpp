#include "win/PortBox.h"

#include <commctrl.h>

#include "serial/Win32Text.h"
#include "win/Texts.h"
#include "win/resource.h"

namespace irdload::win {
namespace {

std::wstring W(const std::string& text) {
  return WideFromUtf8(text);
}

}  // namespace

PortBox::PortBox(HWND dialog, HWND combo, bool virtualIrd)
    : combo_(combo), virtualIrd_(virtualIrd) {
  tooltip_ = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                               nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (tooltip_ != nullptr) {
    ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 480);
    // The box and its edit field, which takes the mouse over most of it.
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    ::GetComboBoxInfo(combo_, &parts);
    for (HWND part : {combo_, parts.hwndItem}) {
      if (part == nullptr) continue;
      TOOLINFOW tool{};
      tool.cbSize = sizeof tool;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = dialog;
      tool.uId = reinterpret_cast<UINT_PTR>(part);
      tool.lpszText = LPSTR_TEXTCALLBACKW;
      ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
  Populate(ListPortChoices({}, {}, virtualIrd_));
  // The first entry of the sorted list is "COM1".
  ::SendMessageW(combo_, CB_SETCURSEL, 0, 0);
  OnSelectionChanged();
}

void PortBox::Refresh() {
  Populate(ListPortChoices({}, {}, virtualIrd_));
}

void PortBox::Populate(const std::vector<PortChoice>& entries) {
  // What the list shows is what the operator chose, even if its notice has not come yet.
  OnSelectionChanged();
  const PortChoice current = Selected();
  entries_ = entries;
  ::SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
  int select = -1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::wstring label = W(entries_[i].label);
    const auto at =
        ::SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
    if (at < 0) continue;
    ::SendMessageW(combo_, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(i));
  }
  // The list sorts its items: find the one selected before by what it is, not where it was.
  const auto count = ::SendMessageW(combo_, CB_GETCOUNT, 0, 0);
  for (LRESULT at = 0; at < count; ++at) {
    const auto i = static_cast<std::size_t>(::SendMessageW(combo_, CB_GETITEMDATA, at, 0));
    if (i < entries_.size() && entries_[i].kind == current.kind &&
        entries_[i].label == current.label) {
      select = static_cast<int>(at);
    }
  }
  if (select >= 0) ::SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
  OnSelectionChanged();
}

void PortBox::OnSelectionChanged() {
  const auto at = ::SendMessageW(combo_, CB_GETCURSEL, 0, 0);
  std::lock_guard lk(mu_);
  if (at == CB_ERR) {
    // No selection: a start opens the classic name of index -1, "COM0".
    selected_ = {PortChoice::Kind::kClassicCom, "", {}, {}};
    return;
  }
  const auto i = static_cast<std::size_t>(::SendMessageW(combo_, CB_GETITEMDATA, at, 0));
  if (i < entries_.size()) selected_ = entries_[i];
}

PortChoice PortBox::Selected() const {
  std::lock_guard lk(mu_);
  return selected_;
}

void PortBox::MarkOpenFailure(const std::string& message, const std::string& detail) {
  failure_ = Fill(LoadText(IDS_PORT_NOT_OPENED), {W(detail.empty() ? message : detail)});
}

void PortBox::ClearOpenFailure() {
  failure_.clear();
}

std::wstring PortBox::Details(const PortChoice& entry) const {
  switch (entry.kind) {
    case PortChoice::Kind::kVirtualIrd:
      return LoadText(IDS_VIRTUAL_IRD_DETAILS);
    case PortChoice::Kind::kClassicCom:
      if (!entry.info) return Fill(LoadText(IDS_PORT_CLASSIC), {W(entry.label)});
      break;
    case PortChoice::Kind::kFoundPort:
      break;
  }
  std::wstring text = W(entry.label);
  if (!entry.info) return text;
  const PortInfo& port = *entry.info;
  const auto add = [&](UINT label, const std::string& value) {
    if (!value.empty()) text += L"\n" + LoadText(label) + L": " + W(value);
  };
  add(IDS_PORT_MAKER, port.manufacturer);
  std::string product = port.product;
  if (!port.usbVendorId.empty()) product += " (" + port.usbVendorId + ":" + port.usbProductId + ")";
  add(IDS_PORT_PRODUCT, product);
  add(IDS_PORT_SERIAL, port.serialNumber);
  add(IDS_PORT_DRIVER, port.driver);
  return text;
}

const wchar_t* PortBox::TooltipText(const NMHDR& header) {
  if (header.hwndFrom != tooltip_ || header.code != TTN_GETDISPINFOW) return nullptr;
  tip_ = failure_.empty() ? Details(Selected()) : failure_;
  return tip_.c_str();
}

}  // namespace irdload::win
