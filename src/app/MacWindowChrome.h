#pragma once

class QWidget;

// Apple builds only: the title bar of `window` becomes transparent with its
// title hidden, and the content reaches under it (full-size content view),
// as the Mac launcher looks. Call once the window is shown. (Dragging the
// background moves the window on every platform: LauncherWindow does it.)
void applyMacWindowChrome(QWidget& window);
