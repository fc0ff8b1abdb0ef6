#pragma once

// Registers the common control classes the dialog templates use (ICC_WIN95_CLASSES: the tree
// view among them). Once, before the first dialog is made; false when the system refused.
bool InitializeCommonControls();
