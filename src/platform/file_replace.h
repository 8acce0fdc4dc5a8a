#pragma once

#include <cstddef>
#include <cstdint>

namespace quorix::platform {

// Writes `size` bytes as the whole content of the file `path`, created or replaced. The bytes go
// to a new file beside it first (named `path`.tmp<pid>-<n>), which is flushed to the disk and
// then renamed over `path`, and the directory is flushed after the rename: a failed write (disk
// full, no permission, the process ending) leaves any earlier file of that name as it was, never
// a torn one. Returns false, with no file left behind, when any step fails.
bool ReplaceFileContents(const char* path, const uint8_t* data, size_t size);

}  // namespace quorix::platform
