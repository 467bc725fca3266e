#pragma once

class QWidget;

// Apple builds only: the title bar of `window` becomes transparent with its
// title hidden, and the content reaches under it (full-size content view),
// as the Mac launcher looks. Call once the window is shown.
void applyMacWindowChrome(QWidget& window);
