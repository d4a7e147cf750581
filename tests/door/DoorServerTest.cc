#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/framework/DoorApplication.h"
#include "platform/framework/DoorClient.h"
#include "platform/framework/DoorService.h"
#include "platform/log/Log.h"
#include "platform/log/LogStatement.h"
#include "tests/door/DoorTestEnv.h"

using namespace std::chrono_literals;
using orv::framework::DoorClient;
using orv::framework::doorPath;
using orv::framework::DoorProtocol;
using orv::framework::DoorReply;
using orv::io::FdGuard;

namespace {

enum Method : unsigned { ECHO, GATHER, SILENT, THROW, STATUS };

class TestService : public DoorService {
public:
    explicit TestService(std::atomic<bool>* destroyed = nullptr, bool concurrent = true)
        : DoorService(concurrent)
        , m_destroyed(destroyed)
    {
    }
    ~TestService() override
    {
        if (m_destroyed != nullptr)
            *m_destroyed = true;
    }

    void methodDispatch() override
    {
        ++calls;
        unsigned size = 0;
        getParam(size);
        std::vector<char> param(size);
        getVoidParam(param.data(), size);
        switch (getMethodID()) {
        case ECHO:
            return doorReturn(7, param.data(), size);
        case GATHER:
            gather();
            return doorReturn(0, param.data(), size);
        case THROW:
            throw std::runtime_error("service failure");
        case STATUS:
            doorReturn(5);
            return doorReturn(6, "late", 4);
        }
    }

    // Waits until `expected` calls are inside at once (or gives up after a
    // while), remembering the most that were.
    void gather()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        mostInside = std::max(mostInside, ++m_inside);
        m_changed.notify_all();
        m_changed.wait_for(lock, patience, [this] { return mostInside >= expected; });
        --m_inside;
    }

    std::atomic<int> calls { 0 };
    int expected = 0;
    std::chrono::milliseconds patience = 5s;
    int mostInside = 0;

private:
    std::atomic<bool>* m_destroyed;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_inside = 0;
};

// A door application serving one TestService on a thread of the test.
class ServerThread {
public:
    ServerThread(const char* door, TestService* service, std::chrono::milliseconds timeout = 5s, unsigned threads = 8)
    {
        app.setRequestTimeout(timeout);
        app.setDoorThreadCount(threads);
        app.registerObj(service, 0);
        created = app.doorCreate(door, 0);
        m_thread = std::thread([this] { app.handleEvents(); });
    }
    ~ServerThread()
    {
        app.requestStop();
        m_thread.join();
    }

    DoorApplication app { "TEST", 1, 1 };
    int created = -1;

private:
    std::thread m_thread;
};

int echo(const char* door, const std::string& text, DoorReply& reply)
{
    return DoorClient(door).call(ECHO, text.data(), text.size(), reply);
}

}

using DoorServerTest = DoorTestEnv;

TEST_F(DoorServerTest, ConcurrentCallsEachGetTheirOwnParameter)
{
    auto* service = new TestService;
    service->expected = 4;
    ServerThread server("d", service);
    ASSERT_EQ(server.created, 0);

    std::vector<std::thread> callers;
    std::vector<DoorReply> replies(4);
    std::vector<int> results(4, -1);
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&, i] {
            std::string param(1000 + i, char('a' + i));
            results[i] = DoorClient("d").call(GATHER, param.data(), param.size(), replies[i]);
        });
    for (auto& caller : callers)
        caller.join();

    EXPECT_EQ(service->mostInside, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i], 0);
        EXPECT_EQ(std::string(replies[i].data.begin(), replies[i].data.end()), std::string(1000 + i, char('a' + i)));
    }
}

TEST_F(DoorServerTest, ServiceThatIsNotConcurrentGetsOneCallAtATime)
{
    auto* service = new TestService(nullptr, false);
    service->expected = 2;
    service->patience = 200ms;
    ServerThread server("d", service);
    auto gather = [] {
        DoorReply reply;
        EXPECT_EQ(DoorClient("d").call(GATHER, nullptr, 0, reply), 0);
    };
    std::thread first(gather);
    gather();
    first.join();
    EXPECT_EQ(service->mostInside, 1);
    EXPECT_EQ(service->calls, 2);
}

TEST_F(DoorServerTest, EveryCallIsAnsweredWhateverTheServiceDoes)
{
    auto* service = new TestService;
    ServerThread server("d", service);
    DoorClient client("d");
    DoorReply reply;

    EXPECT_EQ(client.call(SILENT, "x", 1, reply), 0);
    EXPECT_EQ(reply.status, 0);
    EXPECT_TRUE(reply.data.empty());

    EXPECT_EQ(client.call(STATUS, nullptr, 0, reply), 0);
    EXPECT_EQ(reply.status, 5) << "only the first answer counts";
    EXPECT_TRUE(reply.data.empty());

    EXPECT_EQ(client.call(THROW, nullptr, 0, reply), EIO);

    EXPECT_EQ(echo("d", "still here", reply), 0);
    EXPECT_EQ(reply.status, 7);
    EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), "still here");
    EXPECT_EQ(service->calls, 4);
}

TEST_F(DoorServerTest, BadRequestsNeverReachTheService)
{
    auto* service = new TestService;
    ServerThread server("d", service, 300ms);
    std::string path = doorPath("d");

    FdGuard oversized = rawConnect(path);
    auto header = DoorProtocol::encode(DoorProtocol::Request { ECHO, uint32_t(DoorProtocol::MAX_PAYLOAD + 1) });
    ASSERT_EQ(::send(oversized.get(), header.data(), header.size(), 0), ssize_t(header.size()));
    EXPECT_EQ(readOutcome(oversized.get()), E2BIG);

    FdGuard garbage = rawConnect(path);
    ASSERT_EQ(::send(garbage.get(), "GET / HTTP/1.0\r\n", 16, 0), 16);
    EXPECT_EQ(readOutcome(garbage.get()), EPROTO);

    FdGuard shortRequest = rawConnect(path);
    ASSERT_EQ(::send(shortRequest.get(), header.data(), 5, 0), 5);
    ::shutdown(shortRequest.get(), SHUT_WR);
    EXPECT_EQ(readOutcome(shortRequest.get()), -1);

    FdGuard slow = rawConnect(path);
    header = DoorProtocol::encode(DoorProtocol::Request { ECHO, 10 });
    ASSERT_EQ(::send(slow.get(), header.data(), header.size(), 0), ssize_t(header.size()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readOutcome(slow.get()), ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    DoorReply reply;
    std::vector<char> tooLarge(DoorProtocol::MAX_PAYLOAD + 1);
    EXPECT_EQ(DoorClient("d").call(ECHO, tooLarge.data(), tooLarge.size(), reply), E2BIG);
    EXPECT_EQ(service->calls, 0);
    EXPECT_EQ(echo("d", "fine", reply), 0);
    EXPECT_EQ(service->calls, 1);
}

// A request may come in any pieces: the header split, the parameter in
// parts with pauses between them. A large parameter and its echoed reply
// exceed the socket buffers on the way in and out.
TEST_F(DoorServerTest, RequestsInPiecesAndLargeOnesAreServedWhole)
{
    auto* service = new TestService;
    ServerThread server("d", service, 5s, 2);
    FdGuard caller = rawConnect(doorPath("d"));
    std::string param = "in pieces";
    auto header = DoorProtocol::encode(DoorProtocol::Request { ECHO, uint32_t(param.size()) });
    std::string request(header.begin(), header.end());
    request += param;
    std::vector<size_t> cuts { 0, 5, 12, 15, request.size() };
    for (size_t i = 1; i < cuts.size(); ++i) {
        size_t length = cuts[i] - cuts[i - 1];
        ASSERT_EQ(::send(caller.get(), request.data() + cuts[i - 1], length, 0), ssize_t(length));
        std::this_thread::sleep_for(20ms);
    }
    DoorProtocol::ReplyBytes bytes;
    ASSERT_EQ(orv::io::receiveAll(caller.get(), bytes.data(), bytes.size()), 0);
    DoorProtocol::Reply reply;
    ASSERT_TRUE(DoorProtocol::decode(bytes, reply));
    std::string echoed(reply.length, '\0');
    ASSERT_EQ(orv::io::receiveAll(caller.get(), echoed.data(), echoed.size()), 0);
    EXPECT_EQ(echoed, param);

    std::string large(3 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 4096);
    DoorReply answer;
    ASSERT_EQ(echo("d", large, answer), 0);
    EXPECT_TRUE(std::string(answer.data.begin(), answer.data.end()) == large);
    EXPECT_EQ(service->calls, 2);
}

TEST_F(DoorServerTest, IdleConnectionsDoNotDelayARealCall)
{
    ServerThread server("d", new TestService, 5s, 2);
    std::vector<FdGuard> idle;
    for (int i = 0; i < 100; ++i)
        idle.push_back(rawConnect(doorPath("d")));

    auto start = std::chrono::steady_clock::now();
    DoorReply reply;
    EXPECT_EQ(echo("d", "through", reply), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// A caller the server cannot take while it has no descriptor left is logged
// with the door and the reason, and served once descriptors are free.
TEST_F(DoorServerTest, AcceptFailureNamesTheDoorAndTheReason)
{
    reopenLogFiles(); // this test's log directory
    logStatement(2, LogDest::trace(), "Door test: the trace log is open.");
    const std::string trace = root + "/logs/trace.log";
    ServerThread server("d", new TestService);
    ASSERT_EQ(server.created, 0);
    DoorReply reply;
    ASSERT_EQ(echo("d", "serving", reply), 0); // the reader and its epoll set are made
    sockaddr_un address;
    ASSERT_EQ(orv::io::unixAddress(doorPath("d"), address), 0);

    // No descriptor number from the lowest free one up is within the limit
    // while a caller waits. Another thread of the server may log a line of
    // its own in that span (its event loop starting up), so the caller tries
    // again until the line that grew the log is the accept failure.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::string text;
    for (int attempt = 0; attempt < 5 && text.find("Door d: accept failed: Too many open files") == std::string::npos;
         ++attempt) {
        FdGuard caller(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(lowestFree, 0);
        ::close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree);
        struct stat before { };
        ASSERT_EQ(::stat(trace.c_str(), &before), 0);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const bool connected = ::connect(caller.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        // Watched by its size: reading the file would take a descriptor.
        bool logged = false;
        for (int i = 0; connected && !logged && i < 1000; ++i) {
            std::this_thread::sleep_for(10ms);
            struct stat now { };
            logged = ::stat(trace.c_str(), &now) == 0 && now.st_size > before.st_size;
        }
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        ASSERT_TRUE(connected);
        ASSERT_TRUE(logged);
        std::ifstream in(trace);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(text.find("Door d: accept failed: Too many open files"), std::string::npos) << text;
    EXPECT_EQ(echo("d", "served", reply), 0);
}

TEST_F(DoorServerTest, CallerOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    auto* service = new TestService;
    ServerThread server("d", service);
    // Loosen the file permissions so that only the credential check stands
    // between the other user and the service.
    ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(doors.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(doorPath("d").c_str(), 0666), 0);

    pid_t child = ::fork();
    if (child == 0) {
        if (::setuid(65534) != 0)
            ::_exit(3);
        FdGuard fd = rawConnect(doorPath("d"));
        ::_exit(!fd.valid() ? 1 : readOutcome(fd.get()) == EACCES ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(service->calls, 0);
}

TEST_F(DoorServerTest, DoorIsNotStolenFromALiveServerButTakenFromADeadOne)
{
    ServerThread live("d", new TestService);
    ASSERT_EQ(live.created, 0);
    DoorApplication second("SECOND", 1, 1);
    second.registerObj(new TestService, 0);
    EXPECT_EQ(second.doorCreate("d", 0), EADDRINUSE);
    DoorReply reply;
    EXPECT_EQ(echo("d", "first", reply), 0);

    {
        FdGuard dead(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address;
        orv::io::unixAddress(doorPath("stale"), address);
        ASSERT_EQ(::bind(dead.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    EXPECT_EQ(second.doorCreate("stale", 0), 0);
    struct stat st { };
    ASSERT_EQ(::stat(doorPath("stale").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::ofstream(doorPath("file")) << "not a door";
    EXPECT_EQ(second.doorCreate("file", 0), EEXIST);
    EXPECT_TRUE(std::filesystem::exists(doorPath("file")));
    EXPECT_EQ(second.doorCreate("../escape", 0), EINVAL);
    EXPECT_EQ(second.doorCreate("other", 1), ENOENT);
}

TEST_F(DoorServerTest, DoorDirectoryOthersCanWriteIsRefused)
{
    ASSERT_EQ(::mkdir(doors.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(doors.c_str(), 0777), 0);
    DoorApplication app("TEST", 1, 1);
    app.registerObj(new TestService, 0);
    EXPECT_EQ(app.doorCreate("d", 0), EPERM);
}

TEST_F(DoorServerTest, ClientTellsWhyACallFailed)
{
    DoorReply reply;
    EXPECT_EQ(DoorClient("none").call(ECHO, nullptr, 0, reply), ENOENT);
    EXPECT_EQ(DoorClient("none").call(ECHO, nullptr, 1, reply), EINVAL);

    // A server that answers with a reply cut short, then with one that
    // announces more data than any reply may carry.
    std::filesystem::create_directory(doors);
    FdGuard listener(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address;
    orv::io::unixAddress(doorPath("fake"), address);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 2), 0);
    std::thread fake([&] {
        DoorProtocol::Reply header { 0, 0, uint32_t(DoorProtocol::MAX_PAYLOAD + 1) };
        auto bytes = DoorProtocol::encode(header);
        for (size_t length : { size_t(6), bytes.size() }) {
            FdGuard caller(::accept(listener.get(), nullptr, nullptr));
            char request[13];
            orv::io::receiveAll(caller.get(), request, sizeof request);
            orv::io::sendAll(caller.get(), bytes.data(), length);
        }
    });
    EXPECT_EQ(DoorClient("fake").call(ECHO, "x", 1, reply), EPROTO);
    EXPECT_EQ(DoorClient("fake").call(ECHO, "x", 1, reply), EPROTO);
    fake.join();
}
