/*
 * Client interface of the remote-services proxy.
 *
 * An application registers once (qob_register), which fills in a handle and
 * installs its command callbacks; it then sends messages (qob_senddata) and
 * component status (qob_sendstatus) through that handle, and finally ends the
 * registration (qob_close). The library talks to the proxy over the Unix
 * socket named by $QOB_PROXY_SOCKET (default QOB_DEFAULT_PROXY_SOCKET).
 * Callbacks run on a thread of the library, never on the caller's.
 *
 * Every call may be made from several threads at once with the same handle.
 */
#ifndef QOBIMAPI_H
#define QOBIMAPI_H

#ifdef __cplusplus
extern "C" {
#endif

#define QOB_DEFAULT_PROXY_SOCKET "/run/KTRXORV/qob-proxy"

#if defined(QOB_BUILDING_LIBRARY)
#define QOB_EXPORT __attribute__((visibility("default")))
#else
#define QOB_EXPORT
#endif

typedef enum QOBReturnValues {
    QOB_SUCCESS = 0,
    QOB_GENERIC_ERROR = 1,
    QOB_IM_NOT_REGISTERED = 2,
    QOB_INVALID_PARAMETER = 3,
    QOB_PROXY_COMM_FAILURE = 4,
    QOB_PROXY_MAINTENANCE = 5,
    QOB_INTERNAL_ERROR = 6,
    QOB_ALREADY_REGISTERED = 7,
    QOB_INVALID_CALLBACK = 8,
    QOB_FILE_ACCESS_ERROR = 9,
    QOB_UNREGISTERED_MGMT_ID = 10,
    QOB_NO_MEMORY = 11,
    QOB_OUT_OF_DISK = 12,
    QOB_NO_CALLBACK = 13,
    /* The proxy did not answer within $QOB_PROXY_TIMEOUT seconds; it may
       still act on a request it had taken. */
    QOB_PROXY_TIMED_OUT = 20,
    /* Make every int a valid value, so that a code this header does not
       know can still be held and passed on. */
    QOB_RETURN_VALUES_LOWEST = -2147483647 - 1,
    QOB_RETURN_VALUES_HIGHEST = 2147483647
} QOBReturnValues;

/* One registration; 0 is never a valid handle. */
typedef unsigned long QOBHandle;

/* A command the proxy may send, and the function that answers it. */
typedef struct QOBCallback {
    const char* command;
    int (*function)(void);
} QOBCallback;

typedef struct QOBComponentStatus {
    const char* componentName;
    int status;
} QOBComponentStatus;

typedef struct QOB_Alarm_Data {
    const char* alarmId;
    const char* alarmState; /* e.g. "QOB_ALARM_OPEN" */
} QOB_Alarm_Data;

typedef struct QOB_Event_Data {
    long timestamp;
    const char* origin;
    int severity;
    int textLength; /* bytes of text, without its terminator */
    const char* text;
    QOB_Alarm_Data* alarm; /* null unless the message is an alarm */
} QOB_Event_Data;

typedef struct QOB_Data {
    unsigned length;
    const char* bytes;
    int reserved; /* must be 0 */
    const char* format;
} QOB_Data;

typedef struct QOB_Hints {
    int priority; /* 1 (low) to 3 (high) */
    int persistent; /* 1: the proxy keeps the message until it is delivered */
    int urgent; /* 1: deliver ahead of queued messages */
} QOB_Hints;

typedef struct QOB_Msg_Data {
    const char* msgType; /* "ALARM", "EVENT" or "DATA" */
    const char* msgSubtype;
    long reserved; /* must be 0 */
    QOB_Event_Data* event;
    QOB_Data* data;
    QOB_Hints* hints;
} QOB_Msg_Data;

/*
 * Registers `appName` `appVersion` with the proxy and fills in *handle.
 * `callbacks` holds `callbackCount` entries. `options` and `reserved` must be
 * 0; `protocolVersion` is 2. QOB_ALREADY_REGISTERED also fills in *handle.
 */
QOB_EXPORT QOBReturnValues qob_register(const char* appName, const char* appVersion, QOBHandle* handle,
    QOBCallback* callbacks, int callbackCount, int options, int reserved, int protocolVersion);

QOB_EXPORT QOBReturnValues qob_senddata(QOBHandle handle, const char* target, QOB_Msg_Data* msg);

QOB_EXPORT int qob_sendstatus(QOBHandle handle, QOBComponentStatus* status, int count);

QOB_EXPORT QOBReturnValues qob_close(QOBHandle handle);

/* The entry points' types, for callers that bind them at run time. */
typedef QOBReturnValues (*qob_register_t)(const char*, const char*, QOBHandle*, QOBCallback*, int, int, int, int);
typedef QOBReturnValues (*qob_senddata_t)(QOBHandle, const char*, QOB_Msg_Data*);
typedef int (*qob_sendstatus_t)(QOBHandle, QOBComponentStatus*, int);
typedef QOBReturnValues (*qob_close_t)(QOBHandle);

#ifdef __cplusplus
}
#endif

#endif
