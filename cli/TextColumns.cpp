#include "cli/TextColumns.h"

#include <algorithm>

namespace irdload::cli {
namespace {

constexpr std::size_t kShrinkFloor = 8;

bool Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::size_t Total(const std::vector<std::size_t>& widths, const std::vector<std::size_t>& shown,
                  std::size_t gap) {
  std::size_t sum = 0;
  for (const std::size_t i : shown) sum += widths[i];
  return shown.empty() ? 0 : sum + gap * (shown.size() - 1);
}

std::string Row(const std::vector<Column>& columns, const std::vector<std::size_t>& widths,
                const std::vector<std::size_t>& shown, std::size_t gap, std::size_t limit,
                std::size_t row, bool header) {
  std::string line;
  for (std::size_t n = 0; n < shown.size(); ++n) {
    const Column& c = columns[shown[n]];
    const std::size_t w = widths[shown[n]];
    const std::string_view text =
        header ? std::string_view(c.header)
               : (row < c.cells.size() ? std::string_view(c.cells[row]) : std::string_view());
    if (n > 0) line.append(gap, ' ');
    const std::string cut = CutToWidth(text, w);
    line += c.alignRight ? PadLeft(cut, w) : PadRight(cut, w);
  }
  return TrimRight(CutToWidth(line, limit));
}

}  // namespace

std::size_t LineLimit(int columns) {
  if (columns <= 0) return 79;
  return columns > 1 ? static_cast<std::size_t>(columns) - 1 : 1;
}

std::size_t TextWidth(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !Continuation(c); }));
}

std::string CutToWidth(std::string_view text, std::size_t width) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Continuation(text[i])) continue;
    if (seen == width) return std::string(text.substr(0, i));
    ++seen;
  }
  return std::string(text);
}

std::string PadRight(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t w = TextWidth(text);
  if (w < width) out.append(width - w, ' ');
  return out;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  const std::size_t w = TextWidth(text);
  return (w < width ? std::string(width - w, ' ') : std::string()) + std::string(text);
}

std::vector<std::string> Fold(std::string_view text, std::size_t limit, std::string_view indent) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t pos = text.find_first_not_of(' '); pos != std::string_view::npos;
       pos = text.find_first_not_of(' ', pos)) {
    const std::size_t end = std::min(text.find(' ', pos), text.size());
    std::string_view word = text.substr(pos, end - pos);
    pos = end;
    while (!word.empty()) {
      const std::string lead(lines.empty() ? std::string_view() : indent);
      if (line.empty()) {
        // A word wider than a whole line goes in pieces.
        const std::size_t room = limit > lead.size() ? limit - lead.size() : 1;
        const std::string piece = CutToWidth(word, room);
        word.remove_prefix(piece.size());
        line = lead + piece;
        if (!word.empty()) {
          lines.push_back(line);
          line.clear();
        }
      } else if (TextWidth(line) + 1 + TextWidth(word) <= limit) {
        line += ' ';
        line += word;
        word = {};
      } else {
        lines.push_back(line);
        line.clear();
      }
    }
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> FitColumns(const std::vector<Column>& columns, std::size_t rows,
                                    std::size_t limit) {
  const bool header = std::any_of(columns.begin(), columns.end(),
                                  [](const Column& c) { return !c.header.empty(); });
  std::vector<std::size_t> widths(columns.size(), 0), shown, droppable;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    std::size_t w = TextWidth(c.header);
    for (std::size_t r = 0; r < rows && r < c.cells.size(); ++r) {
      w = std::max(w, TextWidth(c.cells[r]));
    }
    if (w == 0) continue;  // nothing to show: no room taken
    widths[i] = std::max(w, c.minWidth);
    shown.push_back(i);
    if (c.dropRank > 0) droppable.push_back(i);
  }
  // The highest rank goes first; of equal ranks, the rightmost.
  std::stable_sort(droppable.begin(), droppable.end(), [&](std::size_t a, std::size_t b) {
    return columns[a].dropRank != columns[b].dropRank ? columns[a].dropRank > columns[b].dropRank
                                                      : a > b;
  });
  std::size_t gap = 2;
  for (std::size_t dropped = 0;; ++dropped) {
    if (Total(widths, shown, 2) <= limit) break;
    if (Total(widths, shown, 1) <= limit) {
      gap = 1;
      break;
    }
    if (dropped == droppable.size()) {
      gap = 1;
      // Cut the shrinking columns by what is too much, as far as they go, the rightmost first.
      for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        const std::size_t i = *it;
        if (!columns[i].shrinks) continue;
        const std::size_t excess = Total(widths, shown, 1) - limit;
        const std::size_t floor = std::min(widths[i], kShrinkFloor);
        widths[i] = widths[i] - std::min(excess, widths[i] - floor);
      }
      break;
    }
    std::erase(shown, droppable[dropped]);
  }
  std::vector<std::string> lines;
  if (header) lines.push_back(Row(columns, widths, shown, gap, limit, 0, true));
  for (std::size_t r = 0; r < rows; ++r) {
    lines.push_back(Row(columns, widths, shown, gap, limit, r, false));
  }
  return lines;
}

}  // namespace irdload::cli
