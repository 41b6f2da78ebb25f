// The programs' icons, drawn in dist/icons and embedded: the window frames,
// the tray and the version boxes show the picture that the desktop's menu
// shows.
#pragma once

#include <QIcon>

namespace brindle {

QIcon HostIcon(); // a camera
QIcon ViewIcon(); // an eye on a screen

} // namespace brindle
