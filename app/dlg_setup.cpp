// The status dialog's procedure, exported by the executable as DlgSetup.
#include <windows.h>

#include <cstring>

#include "app/run_context.h"
#include "platform/win32/program_width.h"

// The result is the system's dialog-procedure truth value (pointer sized,
// like the word and long parameters; see program_width.h): non-zero when the
// message was handled.
extern "C" __declspec(dllexport) INT_PTR CALLBACK DlgSetup(HWND window, UINT message,
                                                           WPARAM wParam, LPARAM) {
    if (!gDialogContext) return FALSE;  // no run: nothing to serve
    RunContext& run = *gDialogContext;
    run.dialogResult = 0;
    switch (message) {
        case WM_INITDIALOG:
            // Only brought to the top: the template keeps position and size.
            SetWindowPos(window, HWND_TOP, 0, 0, 200, 200, SWP_NOSIZE | SWP_NOMOVE);
            return TRUE;
        case WM_COMMAND:
            if (wParam == IDOK) {
                run.dialogResult = 1;
                char text[130];
                std::memset(text, 0, sizeof text);
                GetDlgItemTextA(window, 101, text, sizeof text);
                run.statusText = text;
                return TRUE;
            }
            if (wParam == IDCANCEL) {
                run.dialogResult = 3;
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}
