// The updater's entry point: the application object, the main window, and the message loop until it closes.
#include <windows.h>

#include "Application.h"
#include "MainFrm.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    TApplication application(instance);
    TfrmMain frmMain(application);
    frmMain.Show(showCommand);
    return application.Run();
}
