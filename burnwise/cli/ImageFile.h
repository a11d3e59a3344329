#pragma once

#include "burnwise/codec/EepromImage.h"

#include <ostream>
#include <string>

namespace burnwise::cli {

// Reads an image: a file of exactly 256 bytes holds the words little-endian; anything else
// must be the text form that `encode` prints (128 four-digit hexadecimal words separated
// by blanks and line ends; `Name=value` lines such as Serial= and Fits= are skipped).
// Throws InputError when the file cannot be read or is neither.
codec::EepromImage ReadImageFile(const std::string& path);

// 16 lines of 8 upper-case four-digit words separated by single blanks.
void WriteImageWords(std::ostream& out, const codec::EepromImage& image);

// The 256 bytes, little-endian.
void WriteImageBytes(std::ostream& out, const codec::EepromImage& image);

} // namespace burnwise::cli
