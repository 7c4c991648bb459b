// Control identifiers of the main window; the tests that drive the window find its controls by them.
#pragma once

enum ControlId : int {
    IDC_IMAGE1 = 101,
    IDC_LABEL3 = 102,
    IDC_LABEL2 = 103,
    IDC_LABEL6 = 104,
    IDC_BTSTART = 105,
    IDC_LBLMESSAGE = 106,
};

// Resource identifiers.
#define IDB_IMAGE1 201
#define IDI_UPDATE 202
