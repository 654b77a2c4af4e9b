#pragma once
// exiv2 keeps process-wide switches (its log, the XMP toolkit's lock, CR3 reading): everything that
// opens a file with exiv2 calls this first. Any thread.

namespace tw::imaging::detail {

void EnsureExiv2Started();

}  // namespace tw::imaging::detail
