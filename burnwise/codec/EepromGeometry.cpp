#include "EepromGeometry.h"

namespace burnwise::codec {

const EepromGeometry* FindEepromGeometry(std::string_view name) {
    for (const EepromGeometry& row : EepromGeometries) {
        if (row.Name == name) return &row;
    }
    return nullptr;
}

const EepromGeometry& EepromGeometryOf(std::string_view name) {
    const EepromGeometry* row = FindEepromGeometry(name);
    return row ? *row : EepromGeometries.back();
}

} // namespace burnwise::codec
