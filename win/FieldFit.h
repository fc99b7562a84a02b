// Number fields wide enough for their widest text. The template's 28 dialog units hold six digits
// in its font; an image of 1 MB or more has seven, which a static control would clip at both
// ends. As the Qt dialog does, such a field grows by what it lacks, and the label beside it moves
// along: away from the field's fixed edge.
#pragma once

#include <windows.h>

namespace irdload::win {

enum class Grow { Right, Left };

/// Widens control `field` of `dialog` to show `widest` whole, in the dialog's font; `neighbour`
/// (0: none) moves by the same amount, on the side the field grows to.
void FitFieldToText(HWND dialog, int field, const wchar_t* widest, Grow grow, HWND neighbour);

}  // namespace irdload::win
