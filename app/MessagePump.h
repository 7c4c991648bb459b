// Dispatching window messages with key preview: before a key press reaches the focused control, the top-level
// window that owns the control is told of it (and the key still reaches the control). The main loop and the
// flows' pauses both dispatch through here, so the form sees every key press wherever it is pumped.
#pragma once

#include <windows.h>

// Sent to the top-level window with the key message's wParam and lParam.
constexpr UINT WM_KEYPREVIEW = WM_APP + 1;

void DispatchWithKeyPreview(const MSG& message);

// Dispatches every message waiting in this thread's queue, then returns. A quit request is put back for the
// main loop to see.
void ProcessMessages();
