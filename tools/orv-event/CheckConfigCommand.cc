// orv-event check-config [--eventdb FILE] [--control-file FILE]: reads the
// event database and the email control file with the daemon's own readers,
// and every template and script the control file names, and prints one
// line per problem, "FILE:LINE: what is wrong" (for the event database
// "FILE:CLASS: ..."). What the readers say is taken from the lines they
// would log, so the check and the daemon cannot disagree.
#include <unistd.h>

#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/orv-event/CapturedLog.h"
#include "cmd/kav/email/EditTemplate.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventDB.h"
#include "cmd/kav/email/MailRecipient.h"
#include "tools/orv-event/OperatorCommands.h"
#include "cmd/kav/email/RecipientInfo.h"

using orv::event::SkippedEventDBEntry;

namespace {

constexpr const char* usage = "usage: orv-event check-config [--eventdb FILE] [--control-file FILE]\n";

class ConfigCheck {
public:
    void eventDatabase(const std::string& path);
    void controlFile(const std::string& path);
    int problems() const { return m_problems; }

private:
    void problem(const std::string& where, const std::string& what);
    // The readers' own words for a problem, without the lines that only
    // repeat the file's path or the line as read.
    std::string whatWasLogged(const std::string& path);
    void mailFiles(const std::string& where, RecipientInfo entry);
    void templateLines(const std::string& templatePath);

    CapturedLog m_log;
    EmailReportingService m_email;
    std::set<std::string> m_templatesRead;
    int m_problems = 0;
};

void ConfigCheck::problem(const std::string& where, const std::string& what)
{
    std::cout << where << ": " << what << '\n';
    ++m_problems;
}

std::string ConfigCheck::whatWasLogged(const std::string& path)
{
    std::string what;
    for (const auto& line : m_log.take()) {
        std::string text = line.text;
        while (!text.empty() && isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        if (text.empty() || text.find(path) != std::string::npos || text.rfind("Line reads<", 0) == 0)
            continue;
        what += (what.empty() ? "" : "; ") + text;
    }
    return what;
}

void ConfigCheck::eventDatabase(const std::string& path)
{
    try {
        const EventDB database(path);
        for (const SkippedEventDBEntry& skipped : database.skippedEntries())
            problem(path + ":" + skipped.eventClass, "entry left out: " + skipped.reason);
    } catch (const std::exception& e) {
        // The reader's text names the file itself.
        const std::string prefix = "event database " + path + ": ";
        const std::string what = e.what();
        problem(path, what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : what);
    }
    m_log.take();
}

void ConfigCheck::controlFile(const std::string& path)
{
    MailRecipient reader;
    if (reader.openECF(path) != 0) {
        m_log.take();
        problem(path, "cannot be opened");
        return;
    }
    m_log.take();
    int lineNumber = 0;
    std::string line;
    for (;;) {
        const std::string at = path + ":" + std::to_string(lineNumber + 1);
        if (reader.nextECFLine(line) != 0) {
            if (std::string what = whatWasLogged(path); !what.empty())
                problem(at, what + " (the lines after it are never read)");
            return;
        }
        ++lineNumber;
        RecipientInfo entry;
        const int result = reader.checkECFLine(line, entry);
        const std::string what = whatWasLogged(path);
        if (result < 0)
            problem(at, what);
        else if (result == 0)
            mailFiles(at, entry);
    }
}

// The template and script of a sound line, as a report would look for them.
void ConfigCheck::mailFiles(const std::string& where, RecipientInfo entry)
{
    std::string templateName, sender, recipients, scriptName;
    bool includeEvent = false;
    entry.splitRecipient(templateName, sender, recipients, includeEvent, scriptName);
    const std::string templatePath = m_email.getTemplatePath(templateName);
    const std::string scriptPath = m_email.getScriptPath(scriptName);
    const bool found = m_email.verifyFilesExist(templatePath, scriptPath) == 0;
    // The catalogued line names the kind of file and its path.
    std::string missing;
    for (const auto& line : m_log.take()) {
        if (line.id != 0)
            missing += (missing.empty() ? "" : "; ") + line.text;
    }
    if (!found)
        problem(where, missing + " (no mail is sent for this line)");
    // A missing template hides the script from the report's own test; and a
    // script that is there but may not be run fails only when mailing.
    if (access(scriptPath.c_str(), F_OK) != 0 && missing.find(scriptPath) == std::string::npos)
        problem(where, "script " + scriptPath + " not found");
    else if (access(scriptPath.c_str(), F_OK) == 0 && access(scriptPath.c_str(), X_OK) != 0)
        problem(where, "script " + scriptPath + " is not executable");
    if (access(templatePath.c_str(), R_OK) == 0)
        templateLines(templatePath);
}

void ConfigCheck::templateLines(const std::string& templatePath)
{
    if (!m_templatesRead.insert(templatePath).second)
        return;
    EditTemplate editor;
    editor.readLines(templatePath);
    m_log.take();
    if (int line = editor.lineOverLimit(); line != 0)
        problem(templatePath + ":" + std::to_string(line), "line longer than 249 characters: the mail ends before it");
}

}

int checkConfigCommand(const std::vector<std::string>& args)
{
    std::optional<std::string> eventDB;
    std::optional<std::string> controlFile;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size() || (args[i] != "--eventdb" && args[i] != "--control-file")) {
            std::cerr << usage;
            return 2;
        }
        (args[i] == "--eventdb" ? eventDB : controlFile) = args[i + 1];
    }
    ConfigCheck check;
    check.eventDatabase(eventDB.value_or(EventDB::configuredPath()));
    check.controlFile(controlFile.value_or(EmailReportingService::ECF_PATH));
    const auto journal = journalProblems();
    for (const std::string& problem : journal)
        std::cout << "journal: " << problem << '\n';
    std::cout.flush();
    return check.problems() == 0 && journal.empty() ? 0 : 1;
}
