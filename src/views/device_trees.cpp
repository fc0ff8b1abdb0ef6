// Temporary link stand-in until the views land.
#include "views/device_trees.h"

void RebuildDeviceTrees(CVX418Dlg*) {}
