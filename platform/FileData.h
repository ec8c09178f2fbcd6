#pragma once

#include <functional>
#include <sys/types.h>

// Copies the data of one regular file to another, chunk by chunk.
namespace FileData {

// Told of each chunk written; false stops the copy.
using Progress = std::function<bool(long long bytes)>;

struct Outcome {
    int error = 0;        // an errno value, 0 when nothing failed
    bool stopped = false; // `progress` asked to stop
};

// Copies all of `in` to `out` at the same offsets, skipping holes so that a
// sparse file stays sparse. `size` is the input's reported size; data beyond it
// (a file that grew, or a virtual file that reports 0) is copied too.
Outcome copy(int in, int out, off_t size, const Progress &progress);

} // namespace FileData
