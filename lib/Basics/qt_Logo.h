#pragma once

// The program's logo and icon, drawn rather than loaded, so that the
// program needs no image files.

#include <QIcon>
#include <QPixmap>

namespace brenvo {

// The maker's logo of the information window: a banner of the given width
// (the height follows).
QPixmap ProgramLogo(int width = 320);
// The window and desktop icon.
QIcon ProgramIcon();
QPixmap ProgramIconPixmap(int size);

} // namespace brenvo
