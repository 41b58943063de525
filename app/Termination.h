// How the program ends when the desktop session or a terminal asks it to end.
#pragma once

class QCoreApplication;

/// Makes a request from outside to end the program (SIGTERM or SIGINT where there are
/// signals) end the event loop instead, so that the window and its attachments close
/// the way they do after 終了 and the program exits with status 0. A second request
/// while the first is still waiting ends the program at once. Call once, before the
/// first connection; the arrangement lasts as long as `app`.
void quitOnTerminationRequest(QCoreApplication& app);
