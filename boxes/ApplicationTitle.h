// The program's name as the operator sees it in the caption of every box.
#pragma once

#include <QString>

/// The caption of the program's message and error boxes, and the application's name.
QString applicationTitle();
