#pragma once

class CVX418Dlg;

// Handler of commands 11..13 (picker 0..2), on the window thread, before the list opens.
void FillReceiverPicker(CVX418Dlg* dialog, int picker);
