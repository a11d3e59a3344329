// A label layout is a file from anywhere: it is checked and, when accepted, filled with
// values that need escaping and a symbol, without ever crashing or reaching outside it.
#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/LabelRenderer.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace burnwise::labels;
    std::string error;
    const auto layout =
        LabelLayout::Parse(std::string(reinterpret_cast<const char*>(data), size), error);
    if (layout) FillLayout(*layout, {{"serial", "QA000001"}, {"product", "</text>&\x01"}}, error);
    return 0;
}
