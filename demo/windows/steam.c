// Demo stand-in for the Steam client: starts bin\cef\steamwebhelper.exe beside
// itself and keeps it alive. A file "helper_delay.txt" beside it holds the
// seconds to wait first (default 2), or "never" for a client that hangs.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static void besideSelf(wchar_t* out, const wchar_t* name) {
    GetModuleFileNameW(NULL, out, MAX_PATH);
    wchar_t* slash = wcsrchr(out, L'\\');
    if (slash) slash[1] = 0;
    wcsncat(out, name, MAX_PATH - wcslen(out) - 1);
}

int wmain(void) {
    wchar_t path[MAX_PATH];
    besideSelf(path, L"helper_delay.txt");
    char delay[32] = "2";
    FILE* f = _wfopen(path, L"r");
    if (f) {
        if (!fgets(delay, sizeof delay, f)) delay[0] = 0;
        fclose(f);
    }
    if (strncmp(delay, "never", 5) == 0) {
        for (;;) Sleep(INFINITE);
    }
    Sleep((DWORD)(atof(delay) * 1000));
    besideSelf(path, L"bin\\cef\\steamwebhelper.exe");
    for (;;) {
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi;
        if (!CreateProcessW(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            Sleep(1000);
            continue;
        }
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}
