#pragma once

class CVX418Dlg;

// Empties both trees and refills them from one snapshot of the device table.
void RebuildDeviceTrees(CVX418Dlg* dialog);
