#pragma once

#include <QIcon>
#include <string_view>

namespace burnwise::view {

// The icon of an action or command by the form's name: the desktop icon theme's, or our
// own drawing when the theme has none. Erase and Cycle Device share one.
QIcon ActionIcon(std::string_view name);

// Burnwise's own icon (window and desktop entry).
QIcon ProgramIcon();

} // namespace burnwise::view
