#pragma once
// The commentary file beside each configuration.
#include <string>

namespace qd {

// The configuration name without its last four characters (when it has at
// least four), followed by ".txt". `currentName` itself is not changed.
std::string CommentaryFileName(const std::string& currentName);

// The whole file with every lone CR and lone LF turned into CR LF. Throws
// FileError with "Cannot open file "%s". %s" (the system's reason).
std::string ReadCommentary(const std::string& path);

// Writes the text byte for byte, never losing the old file. Throws FileError:
// "File not found" and the like when the file cannot be created, "Cannot
// create file "%s". %s" (the system's reason) when the data cannot be stored.
void WriteCommentary(const std::string& path, const std::string& text);

}  // namespace qd
