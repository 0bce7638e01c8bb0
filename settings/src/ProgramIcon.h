#pragma once

// The program's icon, drawn in code so it is sharp at every size: a small
// evening landscape in a frame with a white quotation mark over its sky.
// settings/KvSettings.svg is the same drawing for the desktop's menus.

#include <QIcon>
#include <QPixmap>

namespace kv::settings {

// The icon `size` device-independent pixels square, for a screen of
// `devicePixelRatio`.
QPixmap ProgramIcon(int size, qreal devicePixelRatio = 1.0);
QIcon ProgramWindowIcon();

}  // namespace kv::settings
