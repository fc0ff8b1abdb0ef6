#pragma once

#include <string>

#include "views/view_plans.h"

class CVX418Dlg;

// Handler of commands 11..13 (picker 0..2), on the window thread, before the list opens.
void FillReceiverPicker(CVX418Dlg* dialog, ReceiverPicker picker);

// Connect (1012), Backup 1 (1013), Backup 2 (1014). Any thread.
// Text of the selected entry; "NULL" when none is selected; empty for another picker number.
std::string GetPickerText(CVX418Dlg* dialog, ReceiverPicker picker);
// "NULL" when GetPickerText gives "NULL", else MacFromLabel of that text.
std::string GetPickedReceiverMac(CVX418Dlg* dialog, ReceiverPicker picker);
// Removes every entry of the picker; another picker number changes nothing. Always true.
bool ClearPicker(CVX418Dlg* dialog, ReceiverPicker picker);
