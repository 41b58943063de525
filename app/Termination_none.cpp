// Ending on request where the system has no termination signals: the session closes the
// window through the platform plugin, which ends the event loop on its own.
#include "app/Termination.h"

void quitOnTerminationRequest(QCoreApplication& /*app*/) {}
