#include "platform/qob/QobSession.h"

#include <sys/socket.h>

#include <cerrno>
#include <ostream>
#include <streambuf>
#include <thread>

#include "platform/io/PeerIo.h"
#include "platform/qob/ProxySocket.h"
#include "platform/qob/QobFrame.h"
#include "platform/io/SocketIo.h"
#include "platform/qob/qobimapi.h"

namespace orv::qob {

namespace {

// What one step's failure means to the caller.
int failureCode(int error)
{
    return error == ETIMEDOUT ? QOB_PROXY_TIMED_OUT : QOB_PROXY_COMM_FAILURE;
}

// Non-blocking, so that every wait on the proxy can end at its deadline.
int connectToProxy(io::FdGuard& fd)
{
    sockaddr_un address {};
    if (io::unixAddress(proxySocketPath(), address) != 0)
        return ENAMETOOLONG;
    fd.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid())
        return errno;
    int rc = io::PeerIo::connect(fd.get(), address, io::Deadline(QobSession::stepTimeout()));
    if (rc != 0)
        fd.reset();
    return rc;
}

// Counts the bytes written to it.
class ByteCount : public std::streambuf {
public:
    size_t count() const { return m_count; }

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            ++m_count;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize count) override
    {
        m_count += static_cast<size_t>(count);
        return count;
    }

private:
    size_t m_count = 0;
};

// Sends what is written to it to the proxy a block at a time; the first
// failure ends the sending and is kept.
class SocketText : public std::streambuf {
public:
    SocketText(int fd, const io::Deadline& deadline)
        : m_fd(fd)
        , m_deadline(deadline)
    {
        setp(m_block, m_block + sizeof m_block);
    }

    // 0 once everything written has been sent, else the errno value.
    int finish()
    {
        drain();
        return m_error;
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        if (m_error == 0 && pptr() > pbase())
            m_error = io::PeerIo::sendAll(m_fd, pbase(), static_cast<size_t>(pptr() - pbase()), m_deadline);
        setp(m_block, m_block + sizeof m_block);
        return m_error == 0;
    }

    int m_fd;
    const io::Deadline& m_deadline;
    int m_error = 0;
    char m_block[64 * 1024];
};

// The JSON text of a message into `buffer`, as dump() would make it
// (invalid UTF-8 replaced), but without holding all of it at once.
void serialize(const nlohmann::ordered_json& message, std::streambuf& buffer)
{
    std::ostream out(&buffer);
    nlohmann::detail::serializer<nlohmann::ordered_json> serializer(
        nlohmann::detail::output_adapter<char>(out), ' ', nlohmann::json::error_handler_t::replace);
    serializer.dump(message, false, false, 0);
}

// A message of a large event (its data's base64 text and its event text,
// tens of megabytes) would be held as text besides itself, and briefly
// twice more while the text grows: it is measured first, then written
// straight to the socket behind its frame's header. A small one goes out
// in one piece.
constexpr size_t streamedFrom = 64 * 1024;

int writeMessage(int fd, const nlohmann::ordered_json& message, const io::Deadline& deadline)
{
    ByteCount size;
    serialize(message, size);
    if (size.count() > maxFrameBytes)
        return EMSGSIZE;
    if (size.count() < streamedFrom) {
        const std::string frame = encodeFrame(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return io::PeerIo::sendAll(fd, frame.data(), frame.size(), deadline);
    }
    const std::string header = frameHeader(size.count());
    if (int rc = io::PeerIo::sendAll(fd, header.data(), header.size(), deadline))
        return rc;
    SocketText text(fd, deadline);
    serialize(message, text);
    return text.finish();
}

int readFrame(int fd, std::string& payload, const io::Deadline& deadline)
{
    unsigned char header[4];
    if (int rc = io::PeerIo::receiveAll(fd, header, sizeof header, deadline))
        return rc;
    size_t length = frameLength(header);
    if (length > maxFrameBytes)
        return EMSGSIZE;
    payload.assign(length, '\0');
    return io::PeerIo::receiveAll(fd, payload.data(), length, deadline);
}

// One request and its answer within one deadline: 0, or the errno value of
// the failed transfer (EPROTO for an answer that is not an object with an
// integer "rc").
int exchange(int fd, const nlohmann::ordered_json& message, nlohmann::json& answer)
{
    const io::Deadline deadline(QobSession::stepTimeout());
    if (int rc = writeMessage(fd, message, deadline))
        return rc;
    std::string text;
    if (int rc = readFrame(fd, text, deadline))
        return rc;
    answer = nlohmann::json::parse(text, nullptr, false);
    if (!answer.is_object() || !answer.contains("rc") || !answer["rc"].is_number_integer())
        return EPROTO;
    return 0;
}

}

// Shared by the session and its command thread, which runs detached: a
// registration that is never closed must not leave a thread to join, and
// the thread outlives the session when a callback drops the last reference.
struct QobSession::CommandChannel {
    // Closed by the thread as it ends, under `mutex`; the thread alone
    // reads it without the lock, as nothing else changes it once it runs.
    io::FdGuard fd;
    std::vector<std::pair<std::string, int (*)()>> callbacks;
    std::thread::id thread;
    orv::base::Mutex mutex;
    orv::base::CondVar ended;
    bool finished GUARDED_BY(mutex) = false;

    void cut()
    {
        orv::base::MutexLock lock(mutex);
        if (fd.valid())
            ::shutdown(fd.get(), SHUT_RDWR);
    }
};

std::chrono::milliseconds QobSession::stepTimeout()
{
    return io::Deadline::fromEnvironment("QOB_PROXY_TIMEOUT", std::chrono::seconds(10));
}

int QobSession::open(const Registration& registration, std::shared_ptr<QobSession>& session)
{
    io::FdGuard requestFd;
    if (int error = connectToProxy(requestFd))
        return failureCode(error);

    nlohmann::ordered_json commands = nlohmann::ordered_json::array();
    for (const auto& callback : registration.callbacks)
        commands.push_back(callback.first);
    nlohmann::json answer;
    if (int error = exchange(requestFd.get(),
            { { "op", "register" }, { "app", registration.app }, { "version", registration.version },
                { "commands", commands } },
            answer))
        return failureCode(error);
    int rc = answer["rc"].get<int>();
    if (rc != QOB_SUCCESS && rc != QOB_ALREADY_REGISTERED)
        return rc;

    auto channel = std::make_shared<CommandChannel>();
    channel->callbacks = registration.callbacks;
    if (int error = connectToProxy(channel->fd))
        return failureCode(error);
    nlohmann::json attached;
    if (int error
        = exchange(channel->fd.get(), { { "op", "attach" }, { "session", answer.value("session", 0L) } }, attached))
        return failureCode(error);
    if (attached["rc"].get<int>() != QOB_SUCCESS)
        return QOB_PROXY_COMM_FAILURE;

    session.reset(new QobSession(registration.app, std::move(requestFd), channel));
    return rc;
}

QobSession::QobSession(std::string app, io::FdGuard requestFd, std::shared_ptr<CommandChannel> channel)
    : m_app(std::move(app))
    , m_requestFd(std::move(requestFd))
    , m_channel(std::move(channel))
{
    std::thread thread(runCommands, m_channel);
    m_channel->thread = thread.get_id();
    thread.detach();
}

QobSession::~QobSession()
{
    stop();
}

void QobSession::runCommands(std::shared_ptr<CommandChannel> channel)
{
    std::string text;
    // Commands come when the proxy likes: no deadline here. stop() ends the
    // wait by cutting the connection.
    while (readFrame(channel->fd.get(), text, io::Deadline()) == 0) {
        nlohmann::json command = nlohmann::json::parse(text, nullptr, false);
        if (!command.is_object() || command.value("op", "") != "command")
            continue;
        std::string name = command.value("name", "");
        for (const auto& callback : channel->callbacks) {
            if (callback.first == name)
                callback.second();
        }
    }
    orv::base::MutexLock lock(channel->mutex);
    channel->fd.reset();
    channel->finished = true;
    channel->ended.notifyAll();
}

int QobSession::request(const nlohmann::ordered_json& message)
{
    orv::base::MutexLock lock(m_requestMutex);
    if (m_broken)
        return QOB_PROXY_COMM_FAILURE;
    nlohmann::json answer;
    if (int error = exchange(m_requestFd.get(), message, answer)) {
        breakOff();
        return failureCode(error);
    }
    return answer["rc"].get<int>();
}

bool QobSession::broken()
{
    orv::base::MutexLock lock(m_requestMutex);
    return m_broken;
}

// The stream is out of step (or the proxy stuck): nothing more can go over
// it, so both connections go at once and the command thread ends.
void QobSession::breakOff()
{
    m_broken = true;
    m_requestFd.reset();
    m_channel->cut();
}

void QobSession::stop()
{
    {
        orv::base::MutexLock lock(m_requestMutex);
        if (m_requestFd.valid())
            ::shutdown(m_requestFd.get(), SHUT_RDWR);
    }
    m_channel->cut();
    if (m_channel->thread == std::this_thread::get_id())
        return;
    orv::base::MutexLock lock(m_channel->mutex);
    while (!m_channel->finished)
        m_channel->ended.wait(m_channel->mutex);
}

}
