#include "packaging/potgen/PotWriter.h"

#include <cstdio>
#include <utility>

PotWriter::PotWriter(std::string projectVersion)
    : m_version(std::move(projectVersion))
{
}

void PotWriter::add(const std::string& name, const std::string& text)
{
    auto [it, inserted] = m_index.emplace(text, m_messages.size());
    if (inserted)
        m_messages.push_back({ text, {} });
    m_messages[it->second].names.push_back(name);
}

std::string PotWriter::quote(const std::string& text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char octal[8];
                std::snprintf(octal, sizeof octal, "\\%03o", c);
                quoted += octal;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

// Texts with a conversion are passed to printf after translation: the flag
// makes the translators' tools check that a translation keeps them.
bool PotWriter::isCFormat(const std::string& text)
{
    for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 2)) {
        if (i + 1 < text.size() && text[i + 1] != '%')
            return true;
    }
    return false;
}

// No creation date: the same catalogue always gives the same file.
void PotWriter::writeHeader(std::ostream& out) const
{
    out << "# Messages of the kav event reporting daemon and its logging library.\n"
           "#, fuzzy\n"
           "msgid \"\"\n"
           "msgstr \"\"\n"
           "\"Project-Id-Version: kav "
        << m_version
        << "\\n\"\n"
           "\"Report-Msgid-Bugs-To: \\n\"\n"
           "\"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n\"\n"
           "\"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n\"\n"
           "\"Language-Team: LANGUAGE <LL@li.org>\\n\"\n"
           "\"Language: \\n\"\n"
           "\"MIME-Version: 1.0\\n\"\n"
           "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
           "\"Content-Transfer-Encoding: 8bit\\n\"\n";
}

void PotWriter::writeMessage(std::ostream& out, const Message& message)
{
    out << '\n';
    for (const std::string& name : message.names)
        out << "#. " << name << '\n';
    if (isCFormat(message.text))
        out << "#, c-format\n";
    out << "msgid " << quote(message.text) << "\nmsgstr \"\"\n";
}

void PotWriter::write(std::ostream& out) const
{
    writeHeader(out);
    for (const Message& message : m_messages)
        writeMessage(out, message);
}
