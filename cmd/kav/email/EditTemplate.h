// Fills one email template for one recipient: drops comment and blank
// lines, takes the subject header from the first kept line, replaces the
// tags by their values and writes the edited body to a file.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cmd/kav/email/EdString.h"
#include "cmd/kav/email/InputFile.h"

class EditTemplate {
public:
    // Tag values may hold tags themselves and are expanded by later tags,
    // so an event could make the edited text grow without end: the text
    // grows to at most this many bytes, then further values are left out.
    static constexpr long long EDITED_LIMIT = 1 << 20;

    EditTemplate();

    // Failures are silent: an unreadable template gives an empty body and
    // subject, an output file that cannot be created is not written.
    void processTags(const std::vector<std::string>& tags, const std::vector<std::string>& values,
        const std::string& templatePath, const std::string& outputPath);

    // The same with values given as pieces, which are not copied; 0 when
    // the output file was written whole, as writeLines.
    int processTagValues(const std::vector<std::string>& tags, const std::vector<EdString::Pieces>& values,
        const std::string& templatePath, const std::string& outputPath);
    // The same from a template the caller opened already.
    int processTagValues(const std::vector<std::string>& tags, const std::vector<EdString::Pieces>& values,
        orv::email::InputFile& templateFile, const std::string& outputPath);

    // The complete "Subject: ...\n" header line, or "" when the template
    // had no kept line.
    std::string getSubject() const;

    int readLines(const std::string& path);
    int readLines(orv::email::InputFile& file);
    // The number of the template line that was too long and so ended the
    // reading, 0 when every line fitted. Reports drop the rest silently;
    // a configuration check points at the line.
    int lineOverLimit() const { return m_longLine; }
    // Writes the kept lines, each ended by a newline, to a new file: 0 when
    // all of it was written and the file closed.
    int writeLines(const std::string& path);
    // What the last writeLines wrote (or tried to), handed over: once that
    // call succeeded, the file's exact content without reading it back.
    std::string takeEditedText() { return std::move(m_edited); }
    void initSubject(const std::string& line);

private:
    void keepSubjectOnOneLine();

    // subject and lines: names the suite's interface fixes.
    std::string subject;
    std::vector<std::string> lines;
    std::string m_edited;
    int m_longLine = 0;
};
