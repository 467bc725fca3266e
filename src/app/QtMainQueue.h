#pragma once

// Hands work posted through platform::MainQueue to the Qt event loop of the
// running QCoreApplication. Install once, on the main thread, after the
// application object exists; posting is then safe from any thread.
namespace QtMainQueue {
void install();
}
