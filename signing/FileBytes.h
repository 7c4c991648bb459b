// Whole small files (key files, the descriptor, the signature) read and written by UTF-8 path, long paths
// included. Payloads, which may be large, are never read whole: see FileSha256.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Errors.h"

namespace signing {

// A file that cannot be opened, read or written raises EFileOperationError with the system's error number.

// The file's bytes. A file larger than `limit` raises EFileOperationError with ERROR_FILE_TOO_LARGE: what is read
// whole here is small by nature, and a huge file in its place is a mistake, not something to load.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t limit);

enum class Existing { Refuse, Replace };
// Writes the bytes as the whole file. With Existing::Refuse a file of that name raises
// EFileOperationError (ERROR_FILE_EXISTS) and is left as it was.
void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes, Existing existing);

}  // namespace signing
