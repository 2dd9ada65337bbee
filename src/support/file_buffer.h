// The bound on a buffer that holds a whole file.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

// setup.exe is a 32-bit program: no object there can be larger than the
// largest ptrdiff_t, 0x7FFFFFFF bytes. new[] fails on a larger size, and
// std::vector throws std::length_error (not std::bad_alloc) before it
// allocates. Both builds hold to this bound, so that a file of 2 GB or more
// fails alike everywhere: as a buffer that can't be had.
constexpr size_t kLargestBuffer = 0x7FFFFFFF;

// A buffer of `size` elements of one byte; none when the size is beyond that
// bound or the memory can't be had. The contents are left as they come.
template <typename T>
std::unique_ptr<T[]> NewFileBuffer(unsigned long long size) {
  static_assert(sizeof(T) == 1, "a file buffer counts bytes");
  return std::unique_ptr<T[]>(
      size <= kLargestBuffer ? new (std::nothrow) T[static_cast<size_t>(size)]
                             : nullptr);
}
