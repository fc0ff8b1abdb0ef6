// Temporary link stand-in until the views land.
#include "views/selection.h"

void ShowSelectedUnit(CVX418Dlg*, int) {}
