#pragma once

// Dialog templates give positions in dialog units of their font ("MS Shell Dlg" 8). The window
// system maps them with that font's base units, 6 x 13 pixels at 96 DPI: x * 6 / 4 and
// y * 13 / 8, each edge rounded to nearest. The forms in res/ were laid out with these factors
// (res/gen_forms.py), and the code uses them where it sizes from a template.
inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 13;

constexpr int MulDivRound(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}
constexpr int DialogUnitsToPixelsX(int x) {
    return MulDivRound(x, kDialogBaseUnitX, 4);
}
constexpr int DialogUnitsToPixelsY(int y) {
    return MulDivRound(y, kDialogBaseUnitY, 8);
}
