#pragma once

// The launcher's program: one launcher per support directory, then the
// application, its delegate and the event loop. Returns the exit status.
int launcherMain(int argc, char** argv);
