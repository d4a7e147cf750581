#include "cmd/kav/email/EditTemplate.h"

#include <algorithm>
#include <cstring>

#include "cmd/kav/email/EdString.h"
#include "platform/io/FdGuard.h"
#include "platform/io/FdIo.h"
#include "platform/io/FileOpen.h"
#include "cmd/kav/email/InputFile.h"
#include "platform/log/LogStatement.h"

using orv::email::InputFile;
using orv::io::FdGuard;

EditTemplate::EditTemplate() = default;

void EditTemplate::processTags(const std::vector<std::string>& tags, const std::vector<std::string>& values,
    const std::string& templatePath, const std::string& outputPath)
{
    std::vector<EdString::Pieces> pieces;
    pieces.reserve(values.size());
    for (const std::string& value : values)
        pieces.push_back({ value });
    processTagValues(tags, pieces, templatePath, outputPath);
}

int EditTemplate::processTagValues(const std::vector<std::string>& tags, const std::vector<EdString::Pieces>& values,
    const std::string& templatePath, const std::string& outputPath)
{
    InputFile file(templatePath);
    return processTagValues(tags, values, file, outputPath);
}

int EditTemplate::processTagValues(const std::vector<std::string>& tags, const std::vector<EdString::Pieces>& values,
    InputFile& templateFile, const std::string& outputPath)
{
    readLines(templateFile);
    // An editor whose init failed leaves every text as it is.
    EdString editor;
    editor.refer(tags, values);
    long long written = 0;
    for (const std::string& line : lines)
        written += static_cast<long long>(line.size()) + 1;
    long long budget = std::max(0LL, EDITED_LIMIT - written);
    for (std::string& line : lines)
        editor.changeString(line, budget);
    long long subjectBudget = std::max(0LL, EDITED_LIMIT - static_cast<long long>(subject.size()));
    editor.changeString(subject, subjectBudget);
    if (editor.limitReached()) {
        logStatement(2, LogDest::trace(),
            "EditTemplate::processTags edited template reached its limit of %lld bytes, further tag values left out\n",
            EDITED_LIMIT);
    }
    keepSubjectOnOneLine();
    return writeLines(outputPath);
}

std::string EditTemplate::getSubject() const
{
    return subject;
}

int EditTemplate::readLines(const std::string& path)
{
    InputFile file(path);
    return readLines(file);
}

int EditTemplate::readLines(InputFile& file)
{
    if (!file.is_open())
        return -1;

    // A line too long for the buffer fails the read and so ends the template.
    char buffer[InputFile::LINE_BUFFER_SIZE] = {};
    int lineNumber = 0;
    while (file.getline(buffer, InputFile::LINE_BUFFER_SIZE)) {
        ++lineNumber;
        std::string line(buffer);
        if (EdString::isCommentLine(line))
            continue;
        if (subject.empty())
            initSubject(line);
        lines.push_back(std::move(line));
    }
    if (file.fail() && !file.eof())
        m_longLine = lineNumber + 1;
    return 0;
}

int EditTemplate::writeLines(const std::string& path)
{
    m_edited.clear();
    size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 1;
    m_edited.reserve(size);
    for (const std::string& line : lines) {
        m_edited += line;
        m_edited += '\n';
    }
    FdGuard file;
    if (!orv::io::createScratchFile(path, file).ok())
        return -1;
    bool failed = !orv::io::writeAll(file.get(), m_edited.data(), m_edited.size()).ok();
    failed = close(file.release()) != 0 || failed;
    return failed ? -1 : 0;
}

// A line that starts with the header name is the header already.
void EditTemplate::initSubject(const std::string& line)
{
    static constexpr char header[] = "Subject:";
    if (std::strncmp(line.c_str(), header, sizeof header - 1) == 0)
        subject = line + "\n";
    else
        subject = "Subject: " + line + "\n";
}

// The subject is a mail header: a line break taken in from a tag value (the
// list tags always carry some) or from the template would end the header
// early and let the rest pass for further headers or body text.
void EditTemplate::keepSubjectOnOneLine()
{
    if (subject.empty())
        return;
    if (subject.back() == '\n')
        subject.pop_back();
    for (char& c : subject) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    subject += '\n';
}
