// The program's start-up: the application-wide settings every window relies on.
#pragma once

class QApplication;

/// Prepares the application object before the first window is created.
void setUpApplication(QApplication& app);
