#include "programicon.h"

#include <QSize>
#include <QString>

QIcon programIcon()
{
    // Drawn on the pixel grid for 16 pixels; the larger ones are the sizes
    // of the desktop entry's icon.
    QIcon icon(QStringLiteral(":/nivleticon16.png"));
    for (const int size : {22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/nivlets.png").arg(size), QSize(size, size));
    return icon;
}
