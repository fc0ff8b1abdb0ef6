// Temporary link stand-in until the views land.
#include "views/receiver_pickers.h"

void FillReceiverPicker(CVX418Dlg*, int) {}
