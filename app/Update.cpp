// The updater's entry point: the application object, the main window, and the message loop until it closes.
#include <windows.h>

#include "Application.h"
#include "ComApartment.h"
#include "MainFrm.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    ComApartment com;  // the XML document's parser is a COM server
    TApplication application(instance);
    TfrmMain frmMain(application);
    frmMain.Show(showCommand);
    return application.Run();
}
