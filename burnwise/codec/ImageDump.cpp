#include "ImageDump.h"

#include "common/WordDump.h"

#include <cstddef>
#include <span>

namespace burnwise::codec {

std::vector<std::string> DumpImage(const EepromImage& image, const FamilySelectors& selectors) {
    const std::size_t words = selectors.Kr3Selected ? 128 : selectors.Kr4Selected ? 80 : 64;
    return common::DumpWords(std::span(image).first(words));
}

} // namespace burnwise::codec
