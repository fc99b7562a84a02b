#include "win/Texts.h"

#include <iterator>

namespace irdload::win {

std::wstring LoadText(UINT id) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  const LANGID russian = MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA);
  const LANGID user =
      PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_RUSSIAN ? russian : english;
  // A table holds sixteen counted strings; the string's block is its ID / 16 + 1.
  const LANGID neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  for (const LANGID language : {user, english, neutral}) {
    const HRSRC found =
        ::FindResourceExW(instance, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (found == nullptr) continue;
    const HGLOBAL loaded = ::LoadResource(instance, found);
    const auto* entry = static_cast<const wchar_t*>(::LockResource(loaded));
    if (entry == nullptr) continue;
    for (UINT i = 0; i < id % 16; ++i) entry += 1 + *entry;
    if (*entry == 0) continue;
    return std::wstring(entry + 1, *entry);
  }
  return {};
}

std::wstring Fill(std::wstring text, std::initializer_list<std::wstring> values) {
  int index = 0;
  for (const std::wstring& value : values) {
    const std::wstring mark = L"{" + std::to_wstring(index++) + L"}";
    for (auto at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at)) {
      text.replace(at, mark.size(), value);
      at += value.size();
    }
  }
  return text;
}

std::wstring ApplicationTitle() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring name(path, n);
  const auto slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const auto dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace irdload::win
