// Windows entry of the converter: a GUI process without a main window.
#include <windows.h>

#include "app/run_driver.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    PlatformInitialiseArithmetic();
    return RunConverter(instance);
}
