// The updater's entry point: the application object, the main window, and the message loop until it closes.
#include <stdexcept>
#include <windows.h>

#include "Application.h"
#include "ComApartment.h"
#include "Elevation.h"
#include "MainFrm.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // Errors inside an event are shown by the window's own handler; this one catches what fails before the window
    // runs (COM, the window classes), so that the program never ends without a word.
    try {
        ComApartment com;  // the XML document's parser is a COM server
        TApplication application(instance);
        TfrmMain frmMain(application, RestartRequestFromCommandLine());
        frmMain.Show(showCommand);
        return application.Run();
    } catch (const std::exception& error) {
        ShowErrorBox(nullptr, error);
        return 1;
    } catch (...) {
        ShowErrorBox(nullptr, std::runtime_error("Unknown error"));
        return 1;
    }
}
