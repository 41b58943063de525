// The program's start-up: the application-wide settings every window relies on.
#include "app/Application.h"

#include "boxes/ApplicationTitle.h"

#include <QApplication>

void setUpApplication(QApplication& app)
{
    // Only the application name: a display name would be appended to every window title on
    // X11, and the main window's caption must read exactly as designed.
    app.setApplicationName(applicationTitle());
    app.setQuitOnLastWindowClosed(true);
}
