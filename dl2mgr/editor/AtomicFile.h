#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace dl2mgr::editor {

// Replaces `path` with `bytes`: a temporary file beside it is written, flushed to disk and
// renamed over the old one, so a reader sees either the old file or the new one, never a
// half-written one. Returns an empty string on success, else why it failed (the old file
// is then untouched and no temporary file is left behind).
std::string WriteFileAtomically(const std::filesystem::path& path,
                                std::span<const std::uint8_t> bytes);

// Reads at most `limit` bytes of `path`. Returns false if the file cannot be opened or read.
bool ReadFileBounded(const std::filesystem::path& path, std::size_t limit, std::string& bytes,
                     std::string& error);

} // namespace dl2mgr::editor
