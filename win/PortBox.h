// The dialog's port list (combo box 1000, sorted as its template says): COM1..COM4, the COM
// ports the registry lists, and "Virtual IRD". A tooltip on the box tells the selected entry's
// details (maker, product, USB ids, serial number, driver), or why it did not open.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "dialog/PortChoices.h"

namespace irdload::win {

class PortBox {
 public:
  /// Fills `combo` and selects "COM1"; `virtualIrd`: whether to list the in-memory virtual IRD.
  PortBox(HWND dialog, HWND combo, bool virtualIrd);
  PortBox(const PortBox&) = delete;
  PortBox& operator=(const PortBox&) = delete;

  /// Looks again for ports (a device came or went); the selected entry stays selected.
  void Refresh();
  /// The operator chose another entry (CBN_SELCHANGE).
  void OnSelectionChanged();
  /// Any thread: the entry selected now; no selection gives a classic entry with no name.
  PortChoice Selected() const;

  /// A start could not open the selected port: its tooltip says why until a start opens one.
  void MarkOpenFailure(const std::string& message, const std::string& detail);
  void ClearOpenFailure();
  bool openFailed() const { return !failure_.empty(); }

  /// The tooltip's text, for its TTN_GETDISPINFO (WM_NOTIFY); null when `header` is not ours.
  const wchar_t* TooltipText(const NMHDR& header);

 private:
  void Populate(const std::vector<PortChoice>& entries);
  std::wstring Details(const PortChoice& entry) const;

  HWND combo_;
  HWND tooltip_ = nullptr;
  const bool virtualIrd_;
  std::vector<PortChoice> entries_;  // item data of each combo item is its index here
  std::wstring failure_;
  std::wstring tip_;

  mutable std::mutex mu_;
  PortChoice selected_{PortChoice::Kind::kClassicCom, "COM1", {}, {}};
};

}  // namespace irdload::win
