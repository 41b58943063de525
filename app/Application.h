// The program's start-up: its name and the application-wide settings every window relies on.
#pragma once

#include <QString>

class QApplication;

/// The caption of the program's message and error boxes.
QString applicationTitle();

/// Prepares the application object before the first window is created.
void setUpApplication(QApplication& app);
