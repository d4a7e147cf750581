// Reads the email control file for one report and keeps, in file order, the
// entries that apply to the event: those whose class pattern matches one of
// the event's fault classes and whose domain pattern matches its domains.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "cmd/kav/email/EdString.h"
#include "cmd/kav/email/InputFile.h"
#include "platform/log/LogFormat.h"
#include "cmd/kav/email/RecipientInfo.h"

class MailRecipient {
public:
    MailRecipient();

    // 0 when the file is open; the caller reports a failure.
    int openECF(const std::string& path);

    // Reads the file up to its end or to the first line that stops the
    // reading; returns the number of applying entries.
    int processECF(const std::vector<std::string>& faultClasses, const std::string& domains);

    // A copy of entry `index`, or a default entry when there is none.
    RecipientInfo getRecipientInfo(int index) const;

    // 0 with the next line; -1 at the end of the file or when a line is not
    // ASCII or too long (both logged).
    int nextECFLine(std::string& line);

    // 0 with `entry` filled when `line` is an entry that applies to the event.
    int addRecipient(const std::vector<std::string>& faultClasses, const std::string& domains, const std::string& line,
        RecipientInfo& entry);

    // Every check of a line, whatever the event: the field count, both
    // patterns and the Include-event? field, each problem logged as a
    // report logs it. 0 with `entry` filled for a sound entry, 1 for a
    // comment or blank line, -1 for a faulty entry.
    int checkECFLine(const std::string& line, RecipientInfo& entry);

    bool notAscii(const char* buffer, int count) const;
    bool probableEmailAddress(const std::string& text) const;

private:
    using Fields = std::array<std::string, 7>;

    bool readFields(const std::string& line, Fields& fields) const;
    bool appliesToEvent(const Fields& fields, const std::vector<std::string>& faultClasses, const std::string& domains,
        const std::string& line) const;
    bool includeEventField(const Fields& fields, const std::string& line, bool& includeEvent) const;
    void reportBadLine(LogFormat<> headline, const std::string& line) const;
    void reportBadField(LogFormat<std::string> format, const std::string& field, const std::string& line) const;

    // The suite's interface: these members' names.
    std::vector<RecipientInfo> recipientList;
    bool ecfOpened;
    orv::email::InputFile ecfStream;
    std::string ecfPath;
};
