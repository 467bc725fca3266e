#include "app/MacWindowChrome.h"

#import <AppKit/AppKit.h>

#include <QWidget>

void applyMacWindowChrome(QWidget& window) {
    // A top-level widget's native id is the NSView that Qt puts in the NSWindow.
    NSWindow* native = reinterpret_cast<NSView*>(window.winId()).window;
    if (native == nil) return;
    native.titlebarAppearsTransparent = YES;
    native.titleVisibility = NSWindowTitleHidden;
    native.styleMask |= NSWindowStyleMaskFullSizeContentView;
}
