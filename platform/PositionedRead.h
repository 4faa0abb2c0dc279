#pragma once
// Reading an open file at a given offset, as the device link reads the image
// and compares the read-back.
#include <cstdint>
#include <cstdio>

/** Reads up to `size` bytes from `offset` of an open file without using or
    moving its stream position (a positioned read). Returns the bytes read,
    fewer only at the end of the file, or -1 on an error. */
int64_t ReadFileAt (std::FILE* file, int64_t offset, void* buffer, int64_t size);
