#pragma once

#include <string>

class CVX418Dlg;

// Handler of commands 11..13 (picker 0..2), on the window thread, before the list opens.
void FillReceiverPicker(CVX418Dlg* dialog, int picker);

// Picker 0 = Connect (1012), 1 = Backup 1 (1013), 2 = Backup 2 (1014). Any thread.
// Text of the selected entry; "NULL" when none is selected; empty for another picker number.
std::string GetPickerText(CVX418Dlg* dialog, int picker);
// "NULL" when GetPickerText gives "NULL", else MacFromLabel of that text.
std::string GetPickedReceiverMac(CVX418Dlg* dialog, int picker);
// Removes every entry of the picker; another picker number changes nothing. Always true.
bool ClearPicker(CVX418Dlg* dialog, int picker);
