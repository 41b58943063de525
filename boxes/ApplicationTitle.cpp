// The program's name as the operator sees it in the caption of every box.
#include "boxes/ApplicationTitle.h"

QString applicationTitle()
{
    return QStringLiteral("Tarnwick");
}
