#include "cmd/kav/email/MailRecipient.h"

#include <sstream>

#include "platform/log/LogStatement.h"

namespace {

// A line is refused once this many characters, its newline included, were consumed.
constexpr int tooManyConsumed = 249;

}

MailRecipient::MailRecipient()
    : ecfOpened(false)
{
}

int MailRecipient::openECF(const std::string& path)
{
    ecfStream.open(path);
    if (!ecfStream.is_open()) {
        logStatement(2, LogDest::trace(), "MailRecipient::openECF can't open file \n");
        logStatement(2, LogDest::trace(), "ECF path is %s\n", path);
        return -1;
    }
    ecfOpened = true;
    ecfPath = path;
    return 0;
}

int MailRecipient::processECF(const std::vector<std::string>& faultClasses, const std::string& domains)
{
    std::string line;
    while (nextECFLine(line) == 0) {
        RecipientInfo entry;
        if (addRecipient(faultClasses, domains, line, entry) == 0)
            recipientList.push_back(entry);
    }
    return static_cast<int>(recipientList.size());
}

RecipientInfo MailRecipient::getRecipientInfo(int index) const
{
    if (!ecfOpened || index < 0 || static_cast<size_t>(index) >= recipientList.size())
        return RecipientInfo();
    return recipientList[static_cast<size_t>(index)];
}

// A damaged or foreign file is not guessed at: the first line that is not
// ASCII or does not fit ends the reading, keeping what came before it.
int MailRecipient::nextECFLine(std::string& line)
{
    line.clear();
    char buffer[orv::email::InputFile::LINE_BUFFER_SIZE] = {};
    ecfStream.getline(buffer, orv::email::InputFile::LINE_BUFFER_SIZE);
    const bool readOk = !ecfStream.fail();
    const auto consumed = static_cast<int>(ecfStream.gcount());
    if (notAscii(buffer, consumed)) {
        logStatement(2, LogDest::trace(), "Non ascii characters  in ECF file \n");
        logStatement(2, LogDest::trace(), "ECF path is %s\n", ecfPath);
        logStatement(4, LogDest::platform(), KAV_BAD_ECF_FILE, ecfPath);
        return -1;
    }
    if (readOk && consumed < tooManyConsumed) {
        line = buffer;
        return 0;
    }
    if (consumed >= tooManyConsumed) {
        logStatement(2, LogDest::trace(), "Line exceeds %d characters in ECF file \n", tooManyConsumed);
        logStatement(2, LogDest::trace(), "ECF path is %s\n", ecfPath);
        logStatement(4, LogDest::platform(), KAV_LINE_TOO_LONG, tooManyConsumed, ecfPath);
    }
    return -1;
}

int MailRecipient::addRecipient(const std::vector<std::string>& faultClasses, const std::string& domains,
    const std::string& line, RecipientInfo& entry)
{
    if (EdString::isCommentLine(line))
        return -1;
    Fields fields;
    if (!readFields(line, fields))
        return -1;
    bool includeEvent = false;
    if (!appliesToEvent(fields, faultClasses, domains, line) || !includeEventField(fields, line, includeEvent))
        return -1;
    entry = RecipientInfo(fields[2], fields[3], fields[5], includeEvent, fields[6]);
    return 0;
}

int MailRecipient::checkECFLine(const std::string& line, RecipientInfo& entry)
{
    if (EdString::isCommentLine(line))
        return 1;
    Fields fields;
    if (!readFields(line, fields))
        return -1;
    bool sound = true;
    EdString classEditor;
    if (classEditor.init(fields[0], "") != 0) {
        reportBadField("Bad message class regular expresion <%s> in ECF file", fields[0], line);
        sound = false;
    }
    EdString domainEditor;
    if (domainEditor.init(fields[1], "") != 0) {
        reportBadField("Bad domain expresion <%s> in ECF file", fields[1], line);
        sound = false;
    }
    bool includeEvent = false;
    if (!includeEventField(fields, line, includeEvent) || !sound)
        return -1;
    entry = RecipientInfo(fields[2], fields[3], fields[5], includeEvent, fields[6]);
    return 0;
}

// Exactly seven white-space-separated fields, or the bad-line lines.
bool MailRecipient::readFields(const std::string& line, Fields& fields) const
{
    std::istringstream words(line);
    for (std::string& field : fields) {
        if (!(words >> field)) {
            reportBadLine("Bad line in ECF file \n", line);
            return false;
        }
    }
    std::string surplus;
    if (words >> surplus) {
        reportBadLine("Bad line in ECF file - Too many fields \n", line);
        // Addresses in both the recipients and the script field mean the
        // recipients were written with blanks between them.
        if (probableEmailAddress(fields[6]) && probableEmailAddress(fields[5]))
            logStatement(4, LogDest::platform(), KAV_BAD_EMAILRECIPIENTS, fields[6]);
        else
            logStatement(4, LogDest::platform(), KAV_ECF_TOO_MANY_FIELDS);
        return false;
    }
    return true;
}

// The domain pattern is compiled only for an entry whose class pattern
// matched, so a bad domain pattern shows up only for the events it concerns.
bool MailRecipient::appliesToEvent(const Fields& fields, const std::vector<std::string>& faultClasses,
    const std::string& domains, const std::string& line) const
{
    EdString classEditor;
    if (classEditor.init(fields[0], "") != 0) {
        reportBadField("Bad message class regular expresion <%s> in ECF file", fields[0], line);
        return false;
    }
    bool classMatches = false;
    for (const std::string& faultClass : faultClasses) {
        if (classEditor.patmatch(faultClass, 0) == 0) {
            classMatches = true;
            break;
        }
    }
    if (!classMatches)
        return false;
    EdString domainEditor;
    if (domainEditor.init(fields[1], "") != 0) {
        reportBadField("Bad domain expresion <%s> in ECF file", fields[1], line);
        return false;
    }
    return domainEditor.patmatch(domains, 0) == 0;
}

bool MailRecipient::includeEventField(const Fields& fields, const std::string& line, bool& includeEvent) const
{
    const std::string& field = fields[4];
    if (field.size() != 1) {
        reportBadField("Bad Include-event? field expression <%s> in ECF file", field, line);
        return false;
    }
    includeEvent = field == "Y" || field == "y";
    return true;
}

bool MailRecipient::notAscii(const char* buffer, int count) const
{
    for (int i = 0; i < count; ++i) {
        if (static_cast<unsigned char>(buffer[i]) & 0x80)
            return true;
    }
    return false;
}

bool MailRecipient::probableEmailAddress(const std::string& text) const
{
    return text.find('@') != std::string::npos;
}

void MailRecipient::reportBadLine(LogFormat<> headline, const std::string& line) const
{
    logStatement(2, LogDest::trace(), headline);
    logStatement(2, LogDest::trace(), "Line reads<%s>\n", line);
    logStatement(4, LogDest::platform(), KAV_ECF_BAD_LINE, line, ecfPath);
}

void MailRecipient::reportBadField(
    LogFormat<std::string> format, const std::string& field, const std::string& line) const
{
    logStatement(2, LogDest::trace(), format, field);
    logStatement(2, LogDest::trace(), "Line reads<%s>\n", line);
}
