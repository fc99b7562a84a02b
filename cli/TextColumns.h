// Text laid out for a terminal of a given width: lines that never reach the right margin, and
// rows of columns that give up their least useful columns first when the width is short. Pure
// functions of text and numbers, so that every front end's figures can be rendered by them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace irdload::cli {

/// The characters a line may hold on a terminal `columns` wide (0: not known). One less than the
/// width, since a character in the last column leaves the cursor where terminals differ (some
/// wrap at once); 79 when the width is not known.
std::size_t LineLimit(int columns);

/// Columns the text takes: UTF-8 continuation bytes take none (every other character one).
std::size_t TextWidth(std::string_view text);

/// At most `width` columns of `text`, never cutting a UTF-8 character in two.
std::string CutToWidth(std::string_view text, std::size_t width);

/// `text` padded with spaces on the right (or left) to `width` columns; longer text is unchanged.
std::string PadRight(std::string_view text, std::size_t width);
std::string PadLeft(std::string_view text, std::size_t width);

/// `text` broken between words into lines of at most `limit` columns, the lines after the first
/// led by `indent`; a word longer than a line is cut.
std::vector<std::string> Fold(std::string_view text, std::size_t limit,
                              std::string_view indent = "  ");

/// One column of a table (or of a single line: one row, no headers).
struct Column {
  std::string header;              ///< empty in a table without a header row
  std::vector<std::string> cells;  ///< one per row; an empty cell leaves blank room
  /// 0: kept whatever the width (the state, the packets). Otherwise, when the width is short,
  /// the column with the highest rank goes first.
  int dropRank = 0;
  bool alignRight = false;
  /// The last resort when the kept columns alone are too wide: this column is cut (to 8 columns
  /// at the least; of several, the rightmost first).
  bool shrinks = false;
  /// Width the column takes at least (so that a state that changes length does not make the
  /// columns after it jump).
  std::size_t minWidth = 0;
};

/// The rows (a header row first when any column has a header) laid out in `limit` columns at
/// most: two spaces between columns, else one, else the least useful columns dropped, else the
/// shrinking column cut; as the last resort each row is cut. A column whose cells and header are
/// all empty takes no room. Trailing spaces are left out.
std::vector<std::string> FitColumns(const std::vector<Column>& columns, std::size_t rows,
                                    std::size_t limit);

}  // namespace irdload::cli
