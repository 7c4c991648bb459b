#include "MainFrm.h"

// Every key press of the window, before the focused control sees it.
void TfrmMain::FormKeyDown(WORD, TShiftState)
{
}
