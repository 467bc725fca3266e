// Demo stand-in for Steam's web helper: it only lives, so that the launcher
// finds its process by name.
#include <windows.h>

int wmain(void) {
    for (;;) Sleep(INFINITE);
}
