// The bound on a buffer that holds a whole file.
#pragma once

#include <cstddef>

// setup.exe is a 32-bit program: no object there can be larger than the
// largest ptrdiff_t, 0x7FFFFFFF bytes. new[] fails on a larger size, and
// std::vector throws std::length_error (not std::bad_alloc) before it
// allocates. Both builds hold to this bound, so that a file of 2 GB or more
// fails alike everywhere: as a buffer that can't be had.
constexpr size_t kLargestBuffer = 0x7FFFFFFF;

// Whether a buffer of `size` bytes is within that bound.
constexpr bool FitsOneBuffer(unsigned long long size) { return size <= kLargestBuffer; }
