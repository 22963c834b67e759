// Saving a file so that a failure at any moment leaves the old file whole.
#pragma once

#include <string>
#include <string_view>

// Writes a temporary file beside the target (created anew, never through a
// link that is in the way), flushes it to disk and renames it over the target,
// so the old file stays whole if anything fails. The target's mode is kept; a
// symbolic link is written through; a read-only file is refused; a device
// (/dev/null, /dev/full...) is written directly. Temporary files left by a
// save that was killed are removed. Returns false and sets error ("PATH:
// cannot be saved: reason") when nothing was saved.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);
