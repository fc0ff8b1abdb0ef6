#include "shell/qt/dialog_font.h"

#include <QStringList>

QFont DialogTemplateFont() {
    QStringList families;
    for (const char* family : kDialogFontFamilies) {
        families << QString::fromLatin1(family);
    }
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(kDialogFontPixelSize);
    return font;
}
