// Open files by their number with a reader. A reader's caller keeps a file's
// number until it closes it; a number given back is given again before a new
// one, so the table grows only to the most files open at once.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

template <typename file>
struct file_table {
  std::vector<file> files;  ///< By number; a default `file` where it is free.
  std::vector<std::size_t> free_numbers;
};

/// Puts `opened` in the table and returns its number.
template <typename file>
std::size_t add_file(file_table<file>* table, file opened) {
  if (table->free_numbers.empty()) {
    table->files.push_back(std::move(opened));
    return table->files.size() - 1;
  }
  const std::size_t number = table->free_numbers.back();
  table->free_numbers.pop_back();
  table->files[number] = std::move(opened);
  return number;
}

/// Takes the file `number` out of the table and frees its number.
template <typename file>
file remove_file(file_table<file>* table, std::size_t number) {
  file removed = std::exchange(table->files[number], file{});
  table->free_numbers.push_back(number);
  return removed;
}
