// Writes a gettext template (.pot) for a list of catalogue entries, so
// translators work from exactly the texts that the logging library looks up.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

class PotWriter {
public:
    explicit PotWriter(std::string projectVersion);

    // One catalogue text and the identifier name it belongs to. Several
    // names may share a text: the template holds each text once.
    void add(const std::string& name, const std::string& text);

    // The header entry, then every text in the order first added.
    void write(std::ostream& out) const;

    // `text` as a PO string literal, quotes included.
    static std::string quote(const std::string& text);

private:
    struct Message {
        std::string text;
        std::vector<std::string> names;
    };

    static bool isCFormat(const std::string& text);
    void writeHeader(std::ostream& out) const;
    static void writeMessage(std::ostream& out, const Message& message);

    std::string m_version;
    std::vector<Message> m_messages;
    std::map<std::string, size_t> m_index; // text -> position in m_messages
};
