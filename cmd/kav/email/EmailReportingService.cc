#include "cmd/kav/email/EmailReportingService.h"

#include <errno.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <list>
#include <sstream>
#include <utility>

#include "cmd/kav/email/EditTemplate.h"
#include "platform/text/EnvInteger.h"
#include "platform/io/FdIo.h"
#include "platform/io/FileOpen.h"
#include "platform/io/Heartbeat.h"
#include "cmd/kav/email/InputFile.h"
#include "cmd/kav/email/HostName.h"
#include "platform/log/LogStatement.h"
#include "cmd/kav/email/MailRecipient.h"
#include "platform/log/MessageIds.h"
#include "cmd/kav/email/MimeEmail.h"
#include "cmd/kav/email/OutputFile.h"
#include "cmd/kav/email/RecipientInfo.h"
#include "platform/io/ShutdownSignal.h"
#include "cmd/kav/email/TagReplacement.h"
#include "platform/system_safe/system_safe.h"

using orv::email::InputFile;
using orv::email::OutputFile;
using orv::io::FdGuard;

const std::string EmailReportingService::TEMPLATE_DIRECTORY = "/etc/opt/KTRXORV/ORV/config/templates/";
const std::string EmailReportingService::SCRIPTS_DIRECTORY = "/etc/opt/KTRXORV/ORV/config/scripts/";
const std::string EmailReportingService::ECF_PATH = "/etc/opt/KTRXORV/ORV/config/event_email.cf";
const std::string EmailReportingService::SCRATCH_DIRECTORY = "/tmp/";
const std::string EmailReportingService::HELD_COUNT_TAG = "<EVENT_HELD_COUNT>";

using orv::journal::ChannelResult;

namespace {

const char* const severityPrefixes[] = {
    "DXAEVENT_SEV_UNKNOWN <",
    "DXAEVENT_SEV_OTHER <",
    "DXAEVENT_SEV_INFO <",
    "DXAEVENT_SEV_WARNING <",
    "DXAEVENT_SEV_MINOR <",
    "DXAEVENT_SEV_MAJOR <",
    "DXAEVENT_SEV_CRITICAL <",
    "DXAEVENT_SEV_FATAL <",
};

const char* const outOfRangeSeverityPrefix = "UNKNOW SEVERITY <";

// Seconds a mail script may run when ORV_MAIL_SCRIPT_TIMEOUT does not say.
constexpr int defaultScriptTimeout = 120;

// Letters of the unguessable part of scratch names.
constexpr int randomLetters = 8;

// Removes one scratch file when the report is done with it, on every path.
class ScratchFile {
public:
    explicit ScratchFile(std::string path)
        : m_path(std::move(path))
    {
    }
    ~ScratchFile() { unlink(m_path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Logs a missing file of the given kind ("template", "script"), or one
// that is there but cannot be opened (no descriptor left, no permission)
// with the reason; the file is kept open, still at its start, for a caller
// that reads it next.
FdGuard openFound(const char* kind, const std::string& path)
{
    FdGuard fd;
    const orv::io::Status opened = orv::io::openRegularConfigFile(path, fd);
    if (opened.ok())
        return fd;
    // EINVAL: something other than a regular file, which counts as missing.
    if (const int error = opened.code(); error != ENOENT && error != ENOTDIR && error != EINVAL) {
        logStatement(2, LogDest::trace(), "EmailReportingService::verifyFilesExist can't open %s file: %s\n", kind,
            opened.reason());
        logStatement(2, LogDest::trace(), "%s path is %s\n", kind, path);
        logStatement(4, LogDest::platform(), KAV_EMAIL_FILE_OPEN_FAILED, kind, path, opened.reason());
        return fd;
    }
    logStatement(2, LogDest::trace(), "EmailReportingService::verifyFilesExist can't find %s file \n", kind);
    logStatement(2, LogDest::trace(), "%s path is %s\n", kind, path);
    logStatement(4, LogDest::platform(), KAV_EMAIL_FILE_NOTFOUND, kind, path);
    return fd;
}

// A scratch file of a mail could not be written, so the mail is not sent:
// beside the trace line, the platform log names the class, the recipients,
// the file and the reason. How the delivery ended.
ChannelResult scratchFileFailed(const std::string& eventClass, const std::string& recipients, const char* kind,
    const std::string& path, const std::string& reason)
{
    logStatement(4, LogDest::platform(), KAV_EMAIL_SCRATCH_FAILED, eventClass, recipients, kind, path, reason);
    return ChannelResult::retryable(std::string("the ") + kind + " file could not be written: " + reason);
}

// The class among the tags of a report given as lists.
std::string classAmong(const std::vector<std::string>& tags, const std::vector<std::string>& values)
{
    for (size_t i = 0; i < tags.size() && i < values.size(); ++i) {
        if (tags[i] == "<EVENT_CLASS>")
            return values[i];
    }
    return "unknown";
}

bool found(const char* kind, const std::string& path)
{
    return openFound(kind, path).valid();
}

bool includesEvent(const MailRecipient& recipients, int count)
{
    for (int i = 0; i < count; ++i) {
        std::string templateName, sender, recipientList, scriptName;
        bool includeEvent = false;
        recipients.getRecipientInfo(i).splitRecipient(templateName, sender, recipientList, includeEvent, scriptName);
        if (includeEvent)
            return true;
    }
    return false;
}

std::string hostName()
{
    return orv::email::systemHostName().value_or("UnknownHost");
}

std::string randomText()
{
    unsigned char bytes[randomLetters] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Still unique by pid and counter; only harder to guess is lost.
        return std::to_string(getpid());
    }
    std::string text;
    for (unsigned char byte : bytes)
        text += static_cast<char>('a' + byte % 26);
    return text;
}

}

EmailReportingService::EmailReportingService() = default;

EmailReportingService::~EmailReportingService() = default;

int EmailReportingService::reportEmail(DXAEvent& event, const EventDBEntry* entry)
{
    ChannelResult result = ChannelResult::delivered();
    return reportEmail(event, entry, result);
}

int EmailReportingService::reportEmail(
    DXAEvent& event, const EventDBEntry* entry, ChannelResult& result, int64_t heldBefore)
{
    return prepareMailing(event, entry, result, heldBefore,
        [&](const Mailing& mailing, std::vector<std::string>& faultClasses, std::string& domains) {
            return mailAll(mailing, faultClasses, domains, result);
        });
}

ChannelResult EmailReportingService::selectRecipients(DXAEvent& event, std::vector<std::string>& lines)
{
    std::string domains;
    std::string eventClass;
    if (readEventData(event, domains, eventClass) != 0)
        return ChannelResult::refused("the event cannot be mailed");
    std::vector<std::string> faultClasses;
    getFaultVector(event, faultClasses);
    MailRecipient recipients;
    const std::string ecfPath = getECFPath();
    if (recipients.openECF(ecfPath) < 0) {
        logStatement(4, LogDest::platform(), KAV_OPEN_ECF_FAILED, ecfPath);
        return ChannelResult::retryable("the email control file could not be opened");
    }
    std::string line;
    while (recipients.nextECFLine(line) == 0) {
        RecipientInfo entry;
        if (recipients.addRecipient(faultClasses, domains, line, entry) == 0)
            lines.push_back(line);
    }
    return ChannelResult::delivered();
}

ChannelResult EmailReportingService::mailOne(
    DXAEvent& event, const EventDBEntry* entry, const std::string& line, int64_t heldBefore)
{
    ChannelResult result = ChannelResult::delivered();
    prepareMailing(
        event, entry, result, heldBefore, [&](const Mailing& mailing, std::vector<std::string>&, std::string&) {
            RecipientInfo recipient;
            if (MailRecipient().checkECFLine(line, recipient) != 0) {
                result = ChannelResult::refused("the recipient line no longer reads as an entry");
                return -1;
            }
            result = mailRecipient(recipient, mailing);
            return 0;
        });
    return result;
}

int EmailReportingService::prepareMailing(DXAEvent& event, const EventDBEntry* entry, ChannelResult& result,
    int64_t heldBefore, const std::function<int(const Mailing&, std::vector<std::string>&, std::string&)>& mail)
{
    result = ChannelResult::refused("the event cannot be mailed");
    if (entry == nullptr) {
        logStatement(
            2, LogDest::trace(), "EmailReportingService::reportEmail called without an event database entry\n");
        return -1;
    }
    std::string domains;
    std::string eventClass;
    if (int status = readEventData(event, domains, eventClass); status != 0)
        return status;
    std::vector<std::string> faultClasses;
    getFaultVector(event, faultClasses);

    std::string attachmentPath;
    if (int written = writeAttachment(event, attachmentPath, result); written != 0) {
        logStatement(
            2, LogDest::trace(), "EmailReportingService::reportEmail fails in writeAttachment() rc = <%d>\n", written);
        return written;
    }
    const ScratchFile attachment(attachmentPath);

    // A failing tag still sends the mail, with the tags read before it.
    TagValues tags;
    TagReplacement().getTags(event, tags);

    orv::EventSeverity severity {};
    if (int status = entry->getEventSeverity(severity); status != 0) {
        logStatement(
            2, LogDest::trace(), "EmailReportingService::reportEmail fails in getEventSeverity() rc = <%d>\n", status);
        logStatement(4, LogDest::platform(), KAV_EMAIL_DBEVENT_FAILED, "getEventSeverity", status);
        return status;
    }
    std::vector<std::string> severityTag;
    std::vector<std::string> severityText;
    getSeverityTag(severity, severityTag, severityText);
    tags.add(severityTag.front(), std::move(severityText.front()));
    tags.add(HELD_COUNT_TAG, heldBefore > 0 ? std::to_string(heldBefore) : std::string());
    // The attachment is encoded from the event's bytes, which the file
    // holds as well: the file is not read back twice.
    char* payload = nullptr;
    unsigned length = 0;
    event.getPackedEventPayload(&payload, length);
    const Mailing mailing { eventClass, tags.tags, tags.values, attachmentPath, std::string_view(payload, length), {} };
    return mail(mailing, faultClasses, domains);
}

// The code is not used here; reading it makes sure the event is whole
// before anything is written for it.
int EmailReportingService::readEventData(DXAEvent& event, std::string& domains, std::string& eventClass)
{
    if (int status = event.getDomainsAffected(domains); status != 0)
        return eventAccessorFailed("getDomainsAffected", status);
    if (int status = event.getEventClass(eventClass); status != 0)
        return eventAccessorFailed("getEventClass", status);
    std::string unused;
    if (int status = event.getEventCode(unused); status != 0)
        return eventAccessorFailed("getEventCode", status);
    return 0;
}

int EmailReportingService::eventAccessorFailed(const char* item, int status)
{
    logStatement(2, LogDest::trace(), "EmailReportingService::reportEmail fails in %s() rc = <%d>\n", item, status);
    logStatement(4, LogDest::platform(), KAV_EMAIL_DXAEVENT_GET_FAILED, item, status);
    return status;
}

int EmailReportingService::reportEmail(std::vector<std::string>& tags, std::vector<std::string>& values,
    std::string& attachmentPath, std::vector<std::string>& faultClasses, std::string& domains)
{
    std::vector<EdString::Pieces> pieces;
    pieces.reserve(values.size());
    for (const std::string& value : values)
        pieces.push_back({ value });
    ChannelResult result = ChannelResult::delivered();
    const std::string eventClass = classAmong(tags, values);
    return mailAll(
        Mailing { eventClass, tags, pieces, attachmentPath, std::nullopt, {} }, faultClasses, domains, result);
}

int EmailReportingService::mailAll(
    const Mailing& mailing, std::vector<std::string>& faultClasses, std::string& domains, ChannelResult& result)
{
    result = ChannelResult::delivered();
    MailRecipient recipients;
    const std::string ecfPath = getECFPath();
    if (recipients.openECF(ecfPath) < 0) {
        logStatement(2, LogDest::trace(), "EmailReportingService::reportEmail fails in mr.openECF()\n");
        logStatement(2, LogDest::trace(), "ECF path is %s\n", ecfPath);
        logStatement(4, LogDest::platform(), KAV_OPEN_ECF_FAILED, ecfPath);
        result = ChannelResult::retryable("the email control file could not be opened");
        return -1;
    }
    const int count = recipients.processECF(faultClasses, domains);
    // One digest of the attachment for all the mails that carry it, worked
    // out (for a large one on another thread) while they are made.
    Mailing withDigest = mailing;
    if (mailing.attachmentBytes && includesEvent(recipients, count))
        withDigest.attachmentDigest = MimeEmail::digestOf(*mailing.attachmentBytes);
    for (int i = 0; i < count; ++i) {
        // A stopping daemon starts no further script.
        if (orv::io::shutdownRequested()) {
            logStatement(2, LogDest::trace(),
                "EmailReportingService::reportEmail cut short by shutdown, %d of %d recipients not mailed\n", count - i,
                count);
            result = ChannelResult::retryable("cut short by shutdown");
            break;
        }
        // The first recipient that failed names the failure.
        if (ChannelResult mailed = mailRecipient(recipients.getRecipientInfo(i), withDigest);
            mailed.failed() && !result.failed())
            result = std::move(mailed);
    }
    return 0;
}

// One recipient's mail; whatever goes wrong here, the other recipients are
// still served.
ChannelResult EmailReportingService::mailRecipient(const RecipientInfo& recipient, const Mailing& mailing)
{
    EditTemplate editor;
    const std::string id = genID();
    MimeEmail mime;
    std::string templateName, sender, recipientList, scriptName;
    bool includeEvent = false;
    recipient.splitRecipient(templateName, sender, recipientList, includeEvent, scriptName);

    const std::string from = "From: " + sender + "\n";
    const std::string templatePath = getTemplatePath(templateName);
    const std::string scriptPath = getScriptPath(scriptName);
    const std::string suffix = scratchSuffix();
    const ScratchFile edited(getTmpPath("AVLEDIT" + id + suffix));
    const ScratchFile mimeFile(getTmpPath("AVLMIME" + id + suffix));
    // The template is read through the descriptor its check opened.
    FdGuard templateFd;
    if (verifyFilesExist(templatePath, scriptPath, templateFd) != 0)
        return ChannelResult::retryable("template or script missing");
    InputFile templateFile(std::move(templateFd));

    // A file written whole holds exactly the editor's text, which is taken
    // from memory; after a failed write only what the file holds is mailed,
    // as ever.
    std::string body;
    if (editor.processTagValues(mailing.tags, mailing.values, templateFile, edited.path()) == 0) {
        body = editor.takeEditedText();
    } else if (const orv::io::Status read = orv::io::readScratchFile(edited.path(), body); !read.ok()) {
        logStatement(2, LogDest::trace(), "EmailReportingService::reportEmail can't open edited template <%s>: %s\n",
            edited.path(), read.reason());
        return scratchFileFailed(mailing.eventClass, recipientList, "edited template", edited.path(), read.reason());
    }
    std::istringstream bodyStream(std::move(body));
    return sendMime(mime, id, mailing, includeEvent, bodyStream, editor.getSubject(), from, mimeFile.path(), scriptPath,
        recipientList, scriptName);
}

// The message goes straight into its file, which the script reads once it
// is complete and closed.
ChannelResult EmailReportingService::sendMime(MimeEmail& mime, const std::string& id, const Mailing& mailing,
    bool includeEvent, std::istream& body, const std::string& subject, const std::string& from,
    const std::string& mimePath, const std::string& scriptPath, const std::string& recipients,
    const std::string& scriptName)
{
    FdGuard file;
    if (const orv::io::Status created = orv::io::createScratchFile(mimePath, file); !created.ok()) {
        logStatement(2, LogDest::trace(), "EmailReportingService::reportEmail can't create <%s>: %s\n", mimePath,
            created.reason());
        return scratchFileFailed(mailing.eventClass, recipients, "message", mimePath, created.reason());
    }
    OutputFile message(std::move(file));
    const bool fromMemory = includeEvent && mailing.attachmentBytes.has_value();
    const std::string attachment = includeEvent ? mailing.attachmentPath : std::string();
    const int built = fromMemory
        ? mime.constructMime(id, attachment, *mailing.attachmentBytes,
            mailing.attachmentDigest.valid() ? mailing.attachmentDigest : MimeEmail::digestOf(*mailing.attachmentBytes),
            message, body, subject, from)
        : mime.constructMime(id, attachment, message, body, subject, from);
    const orv::io::Status written = message.close();
    if (built != 0 && written.ok())
        return ChannelResult::retryable("the message to " + recipients + " could not be built");
    if (!written.ok()) {
        logStatement(2, LogDest::trace(), "EmailReportingService::reportEmail can't write <%s>: %s\n", mimePath,
            written.toString());
        return scratchFileFailed(mailing.eventClass, recipients, "message", mimePath, written.reason());
    }
    if (execSendmail(scriptPath, mimePath, recipients) != 0)
        return ChannelResult::retryable("mail to " + recipients + " not submitted by " + scriptName);
    return ChannelResult::delivered();
}

int EmailReportingService::reportEmail()
{
    std::vector<std::string> tags;
    std::vector<std::string> values;
    TagReplacement().fake(tags, values);
    std::string attachmentPath = getScriptPath("string.o");
    std::vector<std::string> faultClasses { "fault.something.else" };
    std::string domains = "A";
    reportEmail(tags, values, attachmentPath, faultClasses, domains);
    return 0;
}

int EmailReportingService::writeAttachment(DXAEvent& event, std::string& path)
{
    ChannelResult result = ChannelResult::delivered();
    return writeAttachment(event, path, result);
}

// Without its attachment the report mails nobody.
int EmailReportingService::writeAttachment(DXAEvent& event, std::string& path, ChannelResult& result)
{
    result = ChannelResult::refused("the event cannot be mailed");
    char* payload = nullptr;
    unsigned length = 0;
    if (int status = event.getPackedEventPayload(&payload, length); status != 0) {
        logStatement(2, LogDest::trace(),
            "EmailReportingService::writeAttachment fails in getPackedEventPayload() rc = <%d>\n", status);
        logStatement(4, LogDest::platform(), KAV_EMAIL_DXAEVENT_GET_FAILED, "getPackedEventPayload", status);
        return status;
    }
    path = getTmpPath("DXAEvent@" + hostName() + genID() + scratchSuffix());
    std::string eventClass = "unknown";
    (void)event.getEventClass(eventClass);
    FdGuard file;
    if (const orv::io::Status created = orv::io::createScratchFile(path, file); !created.ok()) {
        logStatement(2, LogDest::trace(), "Open error in EmailReportingService::writeAttachment file <%s>\n", path);
        result = scratchFileFailed(eventClass, "its recipients", "attachment", path, created.reason());
        return -1;
    }
    if (const orv::io::Status written = orv::io::writeAll(file.get(), payload, length); !written.ok()) {
        logStatement(2, LogDest::trace(), "Write error in EmailReportingService::writeAttachment file <%s>\n", path);
        unlink(path.c_str());
        result = scratchFileFailed(eventClass, "its recipients", "attachment", path, written.reason());
        return -1;
    }
    return 0;
}

void EmailReportingService::getFaultVector(DXAEvent& event, std::vector<std::string>& faultClasses)
{
    std::list<std::string> classes;
    if (int status = event.getEventClasses(classes); status != 0) {
        logStatement(2, LogDest::trace(), "EmailReportingService::getFaultVector fails on %s rc = <%d>\n",
            "getFaultList", status);
        logStatement(4, LogDest::platform(), KAV_EMAIL_DXAEVENT_GET_FAILED, "getFaultList", status);
    }
    faultClasses.insert(faultClasses.end(), classes.begin(), classes.end());
}

void EmailReportingService::getSeverityTag(
    orv::EventSeverity severity, std::vector<std::string>& tags, std::vector<std::string>& values)
{
    // Compared unsigned, so a negative value is out of range as well.
    const auto index = static_cast<unsigned>(severity);
    const char* prefix = index < std::size(severityPrefixes) ? severityPrefixes[index] : outOfRangeSeverityPrefix;
    char text[100];
    snprintf(text, sizeof text, "%s%d>", prefix, static_cast<int>(severity));
    tags.push_back("<EVENT_SEVERITY>");
    values.push_back(text);
}

std::string EmailReportingService::getTemplatePath(const std::string& name) const
{
    return TEMPLATE_DIRECTORY + name;
}

std::string EmailReportingService::getScriptPath(const std::string& name) const
{
    return SCRIPTS_DIRECTORY + name;
}

std::string EmailReportingService::getTmpPath(const std::string& name) const
{
    return SCRATCH_DIRECTORY + name;
}

std::string EmailReportingService::getECFPath() const
{
    return ECF_PATH;
}

std::string EmailReportingService::genID() const
{
    return genID(time(nullptr));
}

std::string EmailReportingService::genID(time_t now)
{
    // Kept non-negative, so a clock set before the epoch still gives digits.
    const long long second = (static_cast<long long>(now) % 1000000 + 1000000) % 1000000;
    char text[20];
    snprintf(text, sizeof text, "%06lld", second);
    return text;
}

int EmailReportingService::verifyFilesExist(const std::string& templatePath, const std::string& scriptPath)
{
    FdGuard templateFile;
    return verifyFilesExist(templatePath, scriptPath, templateFile);
}

int EmailReportingService::verifyFilesExist(
    const std::string& templatePath, const std::string& scriptPath, FdGuard& templateFile)
{
    FdGuard opened = openFound("template", templatePath);
    if (!opened.valid() || !found("script", scriptPath))
        return -1;
    templateFile = std::move(opened);
    return 0;
}

int EmailReportingService::execSendmail(
    const std::string& scriptPath, const std::string& mimePath, const std::string& recipients)
{
    // One script after another: each within its own time limit.
    orv::io::Heartbeat::beat();
    orv::process::RunLimits limits;
    limits.timeoutSeconds = scriptTimeout();
    limits.cancelFd = orv::io::shutdownFd();
    orv::process::RunStop stop = orv::process::RunStop::None;
    const int status = system_safe({ scriptPath, mimePath, recipients }, limits, &stop);
    const int error = errno;
    if (stop == orv::process::RunStop::TimedOut) {
        logStatement(2, LogDest::trace(),
            "EmailReportingService::execSendmail command still running after %d seconds, stopped\n",
            limits.timeoutSeconds);
    } else if (stop == orv::process::RunStop::Cancelled) {
        logStatement(
            2, LogDest::trace(), "EmailReportingService::execSendmail command stopped, report cut short by shutdown\n");
    }
    return sendmailResult(status, error);
}

int EmailReportingService::scriptTimeout()
{
    const auto seconds = orv::text::integerFromEnvironment("ORV_MAIL_SCRIPT_TIMEOUT", 1, 24 * 3600);
    return static_cast<int>(seconds.value_or(defaultScriptTimeout));
}

int EmailReportingService::sendmailResult(int status, int error)
{
    if (status < 0) {
        logStatement(2, LogDest::trace(), "EmailReportingService::execSendmail system_safe called errno <%d>\n", error);
        logStatement(4, LogDest::platform(), KAV_EXECSENDMAIL_FAILED, "system_safe failed errno", error);
        return -1;
    }
    if (status == 0)
        return 0;
    if ((status & 0xff) == 0) {
        const int exitStatus = (status >> 8) & 0xff;
        logStatement(
            2, LogDest::trace(), "EmailReportingService::execSendmail command exited with status <%d>\n", exitStatus);
        logStatement(4, LogDest::platform(), KAV_EXECSENDMAIL_FAILED, "command exited with status", exitStatus);
        return -1;
    }
    if (((status >> 8) & 0xff) == 0) {
        const int signal = status & 0x7f;
        logStatement(2, LogDest::trace(), "EmailReportingService::execSendmail command got signal <%d>\n", signal);
        logStatement(4, LogDest::trace(), KAV_EXECSENDMAIL_FAILED, "command got signal", signal);
        return -1;
    }
    // Stopped: the command has not finished, and there is nothing to say.
    return -1;
}

std::string EmailReportingService::scratchSuffix()
{
    static std::atomic<unsigned long> counter { 0 };
    // Built with += : GCC 12 at -O3 takes "-" + std::string for an
    // overlapping copy (-Wrestrict).
    std::string suffix = "-";
    suffix += std::to_string(++counter);
    suffix += '-';
    suffix += randomText();
    return suffix;
}

FdGuard EmailReportingService::createScratchFile(const std::string& path)
{
    FdGuard fd;
    (void)orv::io::createScratchFile(path, fd);
    return fd;
}
