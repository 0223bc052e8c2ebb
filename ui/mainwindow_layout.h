// The main window's controls and their places in dialog units: the one
// place they are written. The window is built from it, and its test reads
// it, so that a layout change is made once. Group boxes and labels, which
// carry no id, stay where the window builds them.
#pragma once

#include "resource.h"

struct ControlPlace {
    int id;
    int x, y, w, h;
    const char* text;   // a button's caption with its mnemonic, else nullptr
};

inline constexpr int kMainWindowWidth = 383;
inline constexpr int kMainWindowHeight = 282;

inline constexpr ControlPlace kMainWindowControls[] = {
    {IDC_BTN_SEEK, 7, 7, 50, 17, "&Seek"},
    {IDC_BTN_EDIT_CONFIG, 65, 7, 50, 17, "&Edit config"},
    {IDC_LST_DEVICE, 7, 33, 369, 139, nullptr},
    {IDC_EDT_CONFIG, 15, 192, 198, 75, nullptr},
    {IDC_EDT_BUSY, 236, 200, 23, 12, nullptr},
    {IDC_BTN_STOP, 262, 199, 26, 14, "S&top"},
    {IDC_EDT_TIMEOUT, 319, 200, 16, 12, nullptr},
    {IDC_EDT_STATUS, 224, 241, 140, 26, nullptr},
};

// The place of a control of the table (the first entry for an unknown id).
constexpr const ControlPlace& MainWindowControl(int id)
{
    for (const ControlPlace& c : kMainWindowControls)
        if (c.id == id)
            return c;
    return kMainWindowControls[0];
}
