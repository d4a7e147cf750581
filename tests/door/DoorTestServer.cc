// A server that runs on the framework's main: one door, "testdoor", whose
// service echoes (method 0) or answers after a pause (method 1, announced
// in $DOOR_TEST_MARKER.started) or waits up to a minute for shutdown to
// begin and answers "cut" (method 2, announced the same way), and writes "destroyed" to
// $DOOR_TEST_MARKER when the server destroys it.
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/framework/DoorApplication.h"
#include "platform/framework/DoorService.h"
#include "platform/framework/PseudoMain.h"
#include "platform/io/ShutdownSignal.h"
#include "platform/framework/WorkArea.h"

namespace {

class SlowEchoService : public DoorService {
public:
    SlowEchoService()
        : DoorService(true)
    {
    }
    ~SlowEchoService() override
    {
        if (const char* marker = std::getenv("DOOR_TEST_MARKER"))
            std::ofstream(marker) << "destroyed";
    }
    void methodDispatch() override
    {
        unsigned size = 0;
        getParam(size);
        std::vector<char> param(size);
        getVoidParam(param.data(), size);
        if (getMethodID() == 1)
            answerSlowly();
        if (getMethodID() == 2 && waitForShutdown())
            return doorReturn(0, "cut", 3);
        doorReturn(0, param.data(), size);
    }

private:
    static void announceStart()
    {
        if (const char* marker = std::getenv("DOOR_TEST_MARKER"))
            std::ofstream(std::string(marker) + ".started") << "started";
    }

    // Lets the test know the call is under way before it asks for shutdown.
    static void answerSlowly()
    {
        announceStart();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    // Stands for a wait on a stuck peer: true when shutdown ended it.
    static bool waitForShutdown()
    {
        announceStart();
        pollfd fd { orv::io::shutdownFd(), POLLIN, 0 };
        return ::poll(&fd, 1, 60000) == 1 && orv::io::shutdownRequested();
    }
};

class TestWorkArea : public WorkArea {
public:
    TestWorkArea()
        : WorkArea("TestWorkArea")
    {
    }
    int createWorkArea() override
    {
        auto* server = dynamic_cast<DoorServer*>(theApplication);
        if (int rc = server->registerObj(new SlowEchoService, 0))
            return rc;
        return server->doorCreate("testdoor", 0);
    }
};

class TestPseudoMain : public PseudoMain {
public:
    Application* createApplicationObject() override { return new DoorApplication("TEST", 1, 1); }
    WorkArea* createWorkAreaObject() override { return new TestWorkArea; }
};

}

PseudoMain* thePseudoMain = new TestPseudoMain;
