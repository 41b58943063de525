// The logout program's start-up exactly as app/main.cpp does it, ending after the
// window's first paint so that the launcher can time it.
#include "FirstPaint.h"
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
    new bench::FirstPaint(&form);
    form.show();
    const int exitCode = app.exec();
    MainForm = nullptr;
    return exitCode;
}
