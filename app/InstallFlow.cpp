#include "MainFrm.h"

// A click on "开始升级".
void TfrmMain::btStartClick()
{
}
