// The message tables of both programs, built at compile time from the rows of
// resources/*.inc: the texts one after another in one char array, each ending
// in its NUL, and the offset of each row. Nothing in it is a pointer, so the
// tables need no relocation and stay read-only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zp3k {

template <int Rows, std::size_t Size>
class TextTable {
  static_assert(Size <= 0xFFFF, "row offsets are 16 bits");

 public:
  // texts: the rows joined, each ending in "\0", as a row macro such as
  // #define MSG(text, gloss) text "\0" makes them from an .inc file.
  constexpr explicit TextTable(const char (&texts)[Size]) : blob_(), start_() {
    int rows = 0;
    std::size_t row_start = 0;
    // The literal's own NUL closes it; every NUL before it ends a row.
    for (std::size_t i = 0; i + 1 < Size; ++i) {
      blob_[i] = texts[i];
      if (texts[i] != '\0') continue;
      if (rows < Rows) start_[rows] = static_cast<std::uint16_t>(row_start);
      ++rows;
      row_start = i + 1;
    }
    // Built as a constant, a table of another row count does not compile.
    if (rows != Rows) throw "the texts do not make Rows rows";
  }
  // The text of a row, or "" for a row outside the table.
  const char* operator[](int row) const { return row >= 0 && row < Rows ? blob_ + start_[row] : ""; }

 private:
  char blob_[Size];
  std::uint16_t start_[Rows];
};

template <int Rows, std::size_t Size>
constexpr TextTable<Rows, Size> make_text_table(const char (&texts)[Size]) {
  return TextTable<Rows, Size>(texts);
}

}  // namespace zp3k
