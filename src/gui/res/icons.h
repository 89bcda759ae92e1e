#pragma once

#include <QIcon>

namespace tarnwick::gui {

// Icons of the desktop program: the desktop theme's icon when it has one, otherwise the bundled
// fallback compiled into the program (res/icons.qrc). GUI thread only; returns icons by value.

// The 16/32 px icon of a file or directory item in the panes.
QIcon ItemIcon(bool directory);

// The icon of an action named by its freedesktop theme name ("view-refresh").
QIcon ActionIcon(const char* themeName);

}  // namespace tarnwick::gui
