// The program's notices as modal system message boxes.
#pragma once

#include <windows.h>

#include "Notice.h"

// Shows the notice owned by `owner`, and returns when the user has closed it.
void ShowNotice(HWND owner, const Notice& notice);
