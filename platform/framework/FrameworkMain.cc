// The process entry point of every server built on the framework. The
// server supplies `thePseudoMain`; main builds the application and the work
// area through it and runs the application's event loop.

#include <signal.h>

#include <cstdio>
#include <memory>

#include "platform/framework/Application.h"
#include "platform/framework/PseudoMain.h"
#include "platform/framework/WorkArea.h"

namespace {

int fail(const char* why)
{
    std::fprintf(stderr, "%s\n", why);
    return 1;
}

// A nonzero result must stay a failure once the shell keeps only its low
// byte (256 would otherwise read as success).
int exitStatus(int result)
{
    int status = result & 0xff;
    return result != 0 && status == 0 ? 1 : status;
}

// Keeps theApplication pointing at the application exactly as long as the
// application lives.
class CurrentApplication {
public:
    explicit CurrentApplication(Application* application) { theApplication = application; }
    ~CurrentApplication() { theApplication = nullptr; }
    CurrentApplication(const CurrentApplication&) = delete;
    CurrentApplication& operator=(const CurrentApplication&) = delete;
};

int run(Application& application, WorkArea& workArea, int argc, char** argv)
{
    if (application.parseCommandLine(argc, argv) != 0)
        return 2;
    application.watchSignals();
    int rc = workArea.initialize();
    if (rc == 0)
        rc = workArea.createWorkArea();
    if (rc != 0) {
        application.cleanup();
        return exitStatus(rc);
    }
    application.handleEvents();
    application.cleanup();
    return 0;
}

}

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    if (thePseudoMain == nullptr)
        return fail("no start-up object: this program cannot run");
    thePseudoMain->setUpI18N();
    std::unique_ptr<Application> application(thePseudoMain->createApplicationObject());
    if (!application)
        return fail("the application object could not be created");
    CurrentApplication current(application.get());
    std::unique_ptr<WorkArea> workArea(thePseudoMain->createWorkAreaObject());
    if (!workArea)
        return fail("the work area could not be created");
    return run(*application, *workArea, argc, argv);
}
