#pragma once

#include <QFont>

// The font that matches the template's base units (shell/dialog_units.h): "MS Shell Dlg" 8 is
// 11 pixels high at 96 DPI and narrow; the first of these families that is installed stands in
// for it.
inline constexpr int kDialogFontPixelSize = 11;
inline constexpr const char* kDialogFontFamilies[] = {"Tahoma", "Liberation Sans", "Arial",
                                                      "DejaVu Sans Condensed", "Sans Serif"};

// The template font as described above, for a dialog built from a template.
QFont DialogTemplateFont();
