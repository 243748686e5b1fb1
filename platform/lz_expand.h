// Installation media: files kept plain or compressed in the SZDD format of
// COMPRESS.EXE (the name's last character replaced by '_', the character kept
// in the header), expanded through libmspack.
#pragma once

#include <string>

namespace korvo::platform {

// The first file of the folder, in name order, whose name matches the
// pattern as FindFirstFile matched it: ASCII case ignored, '?' one character
// (a '?' at the end of the pattern also none). Empty when none matches.
std::string FindFirstMatch(const std::string& folder, const std::string& pattern);

// True when the file starts with an SZDD signature.
bool IsCompressedFile(const std::string& path);

// Copies the media file to the destination, expanded when it is compressed
// and byte for byte otherwise, with the media file's mode bits. The copy is
// made under a temporary name beside the destination and renamed over it, so
// a running program is replaced and a failed copy leaves the destination as
// it was and no temporary file. The header's size is the file's: a stream
// that ends before it is a read fault, one that goes on is cut there. On failure the last error is ENOENT (a file that cannot be
// opened or made), EIO (a read fault or a damaged stream), EMFILE, ENOMEM, or
// the error of a failed write.
bool ExpandFile(const std::string& source, const std::string& destination);

}  // namespace korvo::platform
