// Identifiers of the catalogued messages. Values stay below 256: the value of
// MEM_ALLOC_FAILED doubles as a process exit status.
#pragma once

inline constexpr int APPLICATION_CREATE_FAILED = 10;
inline constexpr int WORKAREA_CREATE_FAILED = 11;
inline constexpr int MEM_ALLOC_FAILED = 12;
inline constexpr int CREATE_DOOR_FAILED = 13;
inline constexpr int UNRECOGNIZED_METHOD_ID = 14;
inline constexpr int LOG_FOLDER_MADE_AGAIN = 15;
inline constexpr int KAV_INIT_EVENTDB_FAILED = 20;
inline constexpr int KAV_INIT_CHANNEL_FAILED = 21;
inline constexpr int KAV_OBJ_INSTANT_FAILED = 22;
inline constexpr int KAV_TEST_MSG = 23;
inline constexpr int KAV_INVALID_EMAIL_ATTEMPT = 24;
inline constexpr int KAV_UNKNOWN_EVENT_CLASS = 25;
inline constexpr int KAV_FAILED_REPORTING_ATTEMPT = 26;
inline constexpr int KAV_EVENTDB_BAD_ENTRY = 27;
inline constexpr int KAV_LOST_VARN = 30;
inline constexpr int KAV_VARN_SEND_ERR = 31;
inline constexpr int KAV_EMAIL_DXAEVENT_GET_FAILED = 40;
inline constexpr int KAV_EMAIL_DBEVENT_FAILED = 41;
inline constexpr int KAV_OPEN_ECF_FAILED = 42;
inline constexpr int KAV_EMAIL_FILE_NOTFOUND = 43;
inline constexpr int KAV_EXECSENDMAIL_FAILED = 44;
inline constexpr int KAV_BAD_ECF_FILE = 45;
inline constexpr int KAV_BAD_EMAILRECIPIENTS = 46;
inline constexpr int KAV_LINE_TOO_LONG = 47;
inline constexpr int KAV_ECF_BAD_LINE = 48;
inline constexpr int KAV_ECF_TOO_MANY_FIELDS = 49;
inline constexpr int KAV_MIME_OPEN_ATTACHMENT = 50;
inline constexpr int KAV_BASE64_ENCODE_ERROR = 51;
inline constexpr int KAV_BASE64_WRITE_ERROR = 52;
inline constexpr int KAV_EMAIL_FILE_OPEN_FAILED = 53;
inline constexpr int KAV_EMAIL_SCRATCH_FAILED = 54;
inline constexpr int KAV_JOURNAL_UNAVAILABLE = 60;
inline constexpr int KAV_JOURNAL_AVAILABLE = 61;
inline constexpr int KAV_JOURNAL_CORRUPT = 62;
inline constexpr int KAV_JOURNAL_FULL = 63;
inline constexpr int KAV_JOURNAL_ROOM = 64;
inline constexpr int KAV_DELIVERY_GIVEN_UP = 65;
inline constexpr int KAV_DELIVERED_AFTER_RETRY = 66;
inline constexpr int KAV_DELIVERY_DROPPED = 67;
inline constexpr int KAV_EVENTS_HELD = 70;
inline constexpr int KAV_MAIL_RATE_WITHOUT_JOURNAL = 71;
inline constexpr int KAV_SILENCE_ADDED = 72;
inline constexpr int KAV_SILENCE_EXPIRED = 73;
