// Memory that the system copies file data into.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

/// Reads land on page boundaries: the kernel copies file data out of its
/// page cache, which is page-aligned, and on common CPUs that copy costs two
/// to five times as much into a destination a few bytes off a boundary.
constexpr std::size_t page_alignment = 4096;

struct page_buffer_deleter {
  void operator()(unsigned char* bytes) const {
    ::operator delete[](bytes, std::align_val_t{page_alignment});
  }
};
/// A buffer that starts on a page boundary.
using page_buffer = std::unique_ptr<unsigned char[], page_buffer_deleter>;

/// `size` bytes starting on a page boundary. Throws std::bad_alloc when there
/// is no room.
inline page_buffer make_page_buffer(std::size_t size) {
  return page_buffer(static_cast<unsigned char*>(
      ::operator new[](size, std::align_val_t{page_alignment})));
}
