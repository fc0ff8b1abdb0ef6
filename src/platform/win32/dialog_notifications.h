#pragma once

// What the Win32 dialog hands to the control wrappers (platform/controls.h) besides their
// calls: the notifications that tell the user's doing from the wrappers' own.

struct HWND__;

// The dialog hands every WM_COMMAND notification of a wrapped combo box here, so the wrapper
// can tell text the user typed from an entry the user picked (CComboBox::GetCurSel).
void ComboBoxNotified(HWND__* combo, int code);

// True while a wrapper empties the control: what it reports then is no user's doing (a tree's
// selection change while its items are deleted).
bool ControlIsQuiet(HWND__* control);
