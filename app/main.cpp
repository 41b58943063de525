// The program's entry point: brings up the logout window and runs until it is closed.
#include "app/Application.h"
#include "app/Termination.h"
#include "boxes/HandlerBoundary.h"
#include "db/Platform.h"
#include "ui/MainUnit.h"

int main(int argc, char* argv[])
{
    GuardedApplication app(argc, argv);
    setUpApplication(app);
    quitOnTerminationRequest(app);

    TMainForm form(db::profilePath());
    MainForm = &form;
    form.show();
    const int exitCode = app.exec();
    MainForm = nullptr;
    return exitCode;
}
