// The remote channel: reports events as ALARM, EVENT or DATA messages to the
// remote-services (Varn) proxy through its client library, which is loaded
// on demand by the first report, not at start-up, so the daemon runs whether
// or not the library is installed. A proxy that ran into the library's
// deadline is skipped for that long, so a frozen proxy costs one deadline,
// not one (or two) per event.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventDBEntry.h"
#include "cmd/kav/channel/ChannelResult.h"
#include "cmd/kav/channel/PeerSkipWindow.h"
#include "platform/qob/qobimapi.h"

// Thrown by the constructor when one of the channel's locks cannot be set
// up; the manager then leaves remote reporting off.
class LockSetupFailed : public std::runtime_error {
public:
    explicit LockSetupFailed(const std::string& lock)
        : std::runtime_error(lock + " could not be initialized")
    {
    }
};

class RemoteReportingService {
public:
    // One message as the client library takes it: the header first, its
    // pointers leading to the other parts of the same record.
    struct varnMsg_t {
        QOB_Msg_Data header;
        QOB_Event_Data event;
        QOB_Alarm_Data alarm;
        QOB_Data data;
        QOB_Hints hints;
    };

    // Throws LockSetupFailed when its locks cannot be set up.
    RemoteReportingService();
    virtual ~RemoteReportingService();

    RemoteReportingService(const RemoteReportingService&) = delete;
    RemoteReportingService& operator=(const RemoteReportingService&) = delete;

    // `sequence`: the number an ALARM or EVENT text carries, when the
    // journal keeps it; else the next of the channel's own count.
    orv::journal::ChannelResult reportRemoteEvent(
        DXAEvent& event, const EventDBEntry* entry, std::optional<int64_t> sequence = std::nullopt);

    // Loads the library if need be and registers; true when registered afterwards.
    bool connectToVarn();

    static const char* getVarnStatusString(QOBReturnValues rc);

    // How long each step of the client library may take (QOB_PROXY_TIMEOUT):
    // connecting, registering, the handshake, each message.
    static std::chrono::milliseconds proxyTimeout();

    // The message type for a reporting type, nullptr for an invalid one.
    static const char* messageType(orv::EventReportingType type);
    // An ALARM's or EVENT's text before its sequence number is appended.
    static std::string eventText(const std::string& code, const std::string& csn);
    static constexpr const char* alarmOpenState = "QOB_ALARM_OPEN";

    // Sends a finished message, reconnecting once if the registration was lost.
    orv::journal::ChannelResult sendMessage(QOB_Msg_Data* msg);

    orv::journal::ChannelResult buildAlarm(
        DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg, std::optional<int64_t> sequence = std::nullopt);
    orv::journal::ChannelResult buildEvent(
        DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg, std::optional<int64_t> sequence = std::nullopt);
    orv::journal::ChannelResult buildData(DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg);

private:
    friend class RemoteReportingServicePeer; // unit tests hold the locks

    bool loadLibrary();
    bool registerWithVarn();
    bool proxySkipped(const std::string& eventClass) const;
    void noteTimeOut(QOBReturnValues rc);
    orv::journal::ChannelResult buildNumbered(
        DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg, bool alarm, std::optional<int64_t> sequence);
    bool attachPayload(DXAEvent& event, const std::string& eventClass, varnMsg_t* msg);
    bool takeSequenceNumber(const std::string& eventClass, char (&number)[20]);
    static void checkLockAtShutdown(pthread_mutex_t& mutex, const char* name);

    // The suite's interface, names included: POSIX mutexes, held through PosixMutexGuard.
    pthread_mutex_t connectToVarnMutex;
    pthread_mutex_t seqNumMutex;
    long seqNum = 0; // guarded by seqNumMutex
    std::atomic<bool> connectedToVarn { false };
    bool libraryLoaded = false; // guarded by connectToVarnMutex
    char statusCommand[16];
    std::string appName;
    std::string appVersion;
    QOBCallback statusCallback;
    int registerArg5 = 1;
    int registerArg6 = 0;
    int registerArg7 = 0;
    int registerArg8 = 2;

    // Client entry points, set once with libraryLoaded and never changed.
    qob_register_t m_qobRegister = nullptr;
    qob_senddata_t m_qobSenddata = nullptr;
    qob_close_t m_qobClose = nullptr;

    PeerSkipWindow m_skipWindow;
};
