// The email channel: for every applying line of the email control file, an
// email built from that line's template and handed to its submission script.
//
// The channel keeps no state: everything of one report lives in the locals
// of one call, so one object serves all door threads at once.
#pragma once

#include <ctime>
#include <functional>
#include <future>
#include <iosfwd>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cmd/kav/channel/ChannelResult.h"
#include "platform/event/DXAEvent.h"
#include "cmd/kav/email/EdString.h"
#include "platform/event/EventDBEntry.h"
#include "platform/event/EventTypes.h"
#include "platform/io/FdGuard.h"
#include "platform/io/Status.h"

class MailRecipient;
class RecipientInfo;
class MimeEmail;

class EmailReportingService {
public:
    static const std::string TEMPLATE_DIRECTORY;
    static const std::string SCRIPTS_DIRECTORY;
    static const std::string ECF_PATH;
    static const std::string SCRATCH_DIRECTORY;
    // How many copies of the fault its hold-down held back before this
    // report; empty when none were.
    static const std::string HELD_COUNT_TAG;

    EmailReportingService();
    ~EmailReportingService();

    // Reports one event: writes the attachment, fills the tags and mails
    // every selected recipient. 0, or the status of the first failing step.
    int reportEmail(DXAEvent& event, const EventDBEntry* entry);
    // The same, saying how it ended: the first recipient that failed names
    // the failure, and the others are still mailed. `heldBefore` fills the
    // held-count tag.
    int reportEmail(
        DXAEvent& event, const EventDBEntry* entry, orv::journal::ChannelResult& result, int64_t heldBefore = 0);

    // The control file lines that apply to the event, each as it is written.
    orv::journal::ChannelResult selectRecipients(DXAEvent& event, std::vector<std::string>& lines);
    // Mails the event to one control file line, as a report mails each of
    // its recipients; the template and script are read afresh.
    orv::journal::ChannelResult mailOne(
        DXAEvent& event, const EventDBEntry* entry, const std::string& line, int64_t heldBefore = 0);

    // Mails every recipient the control file selects for these classes and
    // domains; -1 only when the control file cannot be opened.
    int reportEmail(std::vector<std::string>& tags, std::vector<std::string>& values, std::string& attachmentPath,
        std::vector<std::string>& faultClasses, std::string& domains);

    // A sample mail with placeholder values, for trying out a configuration.
    // The suite's interface: no arguments, the sample values are built in.
    int reportEmail();

    // Writes the packed event to a new scratch file and sets `path` to it.
    int writeAttachment(DXAEvent& event, std::string& path);

    // Appends the event's classes; a failure is logged and leaves fewer.
    void getFaultVector(DXAEvent& event, std::vector<std::string>& faultClasses);

    // Appends "<EVENT_SEVERITY>" and its text; a value outside the known
    // severities is written as unknown, with its number.
    void getSeverityTag(orv::EventSeverity severity, std::vector<std::string>& tags, std::vector<std::string>& values);

    std::string getTemplatePath(const std::string& name) const;
    std::string getScriptPath(const std::string& name) const;
    std::string getTmpPath(const std::string& name) const;
    std::string getECFPath() const;

    // Six digits: the current second modulo 1000000.
    std::string genID() const;
    static std::string genID(time_t now);

    // 0 when both files can be opened for reading; the template is checked
    // first and a missing one is the only one reported.
    int verifyFilesExist(const std::string& templatePath, const std::string& scriptPath);
    // The same check, handing the template's descriptor (still at the file's
    // start) to a caller that reads the template next.
    int verifyFilesExist(
        const std::string& templatePath, const std::string& scriptPath, orv::io::FdGuard& templateFile);

    // Runs the script on the MIME file, its two arguments passed as they
    // are, whatever characters they hold; 0 when it exited with status 0.
    // A script still running after scriptTimeout() seconds, or when the
    // daemon begins to stop, is stopped with everything it started.
    int execSendmail(const std::string& scriptPath, const std::string& mimePath, const std::string& recipients);

    // ORV_MAIL_SCRIPT_TIMEOUT in seconds when it is a whole number from 1 to
    // 86400, else 120.
    static int scriptTimeout();

    // Interprets a command's wait status (`error`: errno when it is
    // negative): 0 for exit status 0, else -1, logging why.
    int sendmailResult(int status, int error);

    // Goes after the six-digit identifier of a scratch file name, so that no
    // two files of any report, thread or process share a name, and nobody
    // can guess a name to plant a file or link under it beforehand.
    static std::string scratchSuffix();

    // Creates `path` for writing, mode 0400; invalid when anything (a file,
    // a link) is already there (orv::io::createScratchFile).
    static orv::io::FdGuard createScratchFile(const std::string& path);

private:
    // What a report mails: the tag values as the editor takes them, and the
    // attachment file with, when the report has them, its bytes in memory
    // (the event's own), which are then encoded instead of the file's.
    struct Mailing {
        const std::string& eventClass;
        const std::vector<std::string>& tags;
        const std::vector<EdString::Pieces>& values;
        const std::string& attachmentPath;
        std::optional<std::string_view> attachmentBytes;
        // Their digest, one for all the mails of the report.
        std::shared_future<std::string> attachmentDigest;
    };

    int mailAll(const Mailing& mailing, std::vector<std::string>& faultClasses, std::string& domains,
        orv::journal::ChannelResult& result);
    orv::journal::ChannelResult mailRecipient(const RecipientInfo& recipient, const Mailing& mailing);
    // Reads what every mail of the event needs and hands it to `mail`.
    int prepareMailing(DXAEvent& event, const EventDBEntry* entry, orv::journal::ChannelResult& result,
        int64_t heldBefore, const std::function<int(const Mailing&, std::vector<std::string>&, std::string&)>& mail);
    // Writes the message file and runs the script on it.
    orv::journal::ChannelResult sendMime(MimeEmail& mime, const std::string& id, const Mailing& mailing,
        bool includeEvent, std::istream& body, const std::string& subject, const std::string& from,
        const std::string& mimePath, const std::string& scriptPath, const std::string& recipients,
        const std::string& scriptName);
    int writeAttachment(DXAEvent& event, std::string& path, orv::journal::ChannelResult& result);
    int readEventData(DXAEvent& event, std::string& domains, std::string& eventClass);
    int eventAccessorFailed(const char* item, int status);
};
