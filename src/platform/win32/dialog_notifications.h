#pragma once

// What the Win32 dialog adds to the control wrappers (controls.h): the notifications it must
// hand to them, and the calls it makes on the window thread itself.

#include <functional>

struct HWND__;

// Runs fn on the thread that owns the control and waits for it; on that thread it runs at once.
// A control that is gone runs nothing.
void RunOnControlThread(HWND__* control, const std::function<void()>& fn);

// The dialog hands every WM_COMMAND notification of a wrapped combo box here, so the wrapper
// can tell text the user typed from an entry the user picked (CComboBox::GetCurSel).
void ComboBoxNotified(HWND__* combo, int code);

// True while a wrapper empties the control: what it reports then is no user's doing (a tree's
// selection change while its items are deleted).
bool ControlIsQuiet(HWND__* control);
