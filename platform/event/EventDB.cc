#include "platform/event/EventDB.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <sstream>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/event/DXAEvent.h"
#include "platform/io/FdGuard.h"
#include "platform/io/FdIo.h"
#include "platform/io/FileOpen.h"

namespace {

using nlohmann::json;
using Fields = EventDBEntry::Fields;
using Entries = std::map<std::string, std::unique_ptr<EventDBEntry>>;

constexpr char defaultPath[] = "/etc/opt/KTRXORV/ORV/config/eventdb.json";

struct ChannelWord {
    const char* word;
    bool Fields::*flag;
};

constexpr ChannelWord channelWords[] = {
    { "message", &Fields::viaMsg },
    { "orvEvent", &Fields::viaOrvEvent },
    { "remote", &Fields::viaRemote },
    { "email", &Fields::viaEmail },
};

std::string databasePath()
{
    const char* path = std::getenv("ORV_EVENTDB");
    return path && *path ? path : defaultPath;
}

[[noreturn]] void invalid(const std::string& why)
{
    throw std::runtime_error(why);
}

std::string readFile(const std::string& path)
{
    orv::io::FdGuard fd;
    if (const orv::io::Status opened = orv::io::openConfigFile(path, fd); !opened.ok())
        invalid("cannot open: " + opened.reason());
    std::string text;
    if (const orv::io::Status read = orv::io::readToEnd(fd.get(), text); !read.ok())
        invalid("cannot read: " + read.reason());
    return text;
}

// Duplicate keys found while parsing, by the class they belong to. The JSON
// library keeps the last of two equal keys; a class or key written twice is
// far more likely a copy-and-paste slip than intent, so that class is left
// out rather than loaded with one of the two values.
using Duplicates = std::map<std::string, std::string>;

// Reads the keys of every object as the parser meets them; the values are
// left to the parse proper. Each key costs one lookup in its object's own
// set, so a database of any size is read in one linear pass.
class DuplicateKeys : public nlohmann::json_sax<json> {
public:
    explicit DuplicateKeys(Duplicates& duplicates)
        : m_duplicates(duplicates)
    {
    }

    bool start_object(std::size_t) override
    {
        m_openObjects.emplace_back();
        return true;
    }
    bool end_object() override
    {
        m_openObjects.pop_back();
        return true;
    }
    bool key(string_t& name) override
    {
        const bool repeated = !m_openObjects.back().insert(name).second;
        if (m_openObjects.size() == 1)
            m_currentClass = name;
        if (repeated) {
            const std::string why
                = m_openObjects.size() == 1 ? "class given twice" : "key \"" + name + "\" given twice";
            m_duplicates.emplace(m_currentClass, why);
        }
        return true;
    }
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    Duplicates& m_duplicates;
    std::vector<std::unordered_set<std::string>> m_openObjects;
    std::string m_currentClass;
};

// The parse proper throws with the place of a syntax error; only a text
// that parses is looked at again for its keys. (The parser's own callback
// would do both at once, but it walks the whole enclosing object at the
// end of each entry, which makes a large database quadratic to read.)
json parseNotingDuplicates(const std::string& text, Duplicates& duplicates)
{
    json root = json::parse(text);
    DuplicateKeys keys(duplicates);
    json::sax_parse(text, &keys);
    return root;
}

// The library's exception texts start with a bracketed tag that means
// nothing to whoever edits the file.
std::string withoutTag(const char* what)
{
    std::string text(what);
    if (text.starts_with("[json.exception.")) {
        const size_t end = text.find("] ");
        if (end != std::string::npos)
            text.erase(0, end + 2);
    }
    return text;
}

// Every number is handed on as an int, so one that does not fit is refused
// here rather than silently cut down later.
long long intValue(const json& value)
{
    if (value.is_number_unsigned()) {
        if (value.get<unsigned long long>() > INT_MAX)
            invalid("number outside the int range");
    } else if (!value.is_number_integer()) {
        invalid("must be an integer");
    }
    const long long number = value.get<long long>();
    if (!std::in_range<int>(number))
        invalid("number outside the int range");
    return number;
}

constexpr long long firstEventMessageNumber = 1000;

long long messageNumber(const json& value)
{
    const long long number = intValue(value);
    // Numbers below 1000 are the logging library's own identifiers, whose
    // texts take other arguments than an event message's twenty texts.
    if (number < firstEventMessageNumber)
        invalid("must be a message number of 1000 or above");
    return number;
}

// Seconds: 0 (off) or more, within a year.
long long holdDown(const json& value)
{
    const long long seconds = intValue(value);
    if (seconds < 0 || seconds > 366LL * 24 * 3600)
        invalid("must be a number of seconds from 0 to 31622400");
    return seconds;
}

std::string textValue(const json& value)
{
    if (!value.is_string())
        invalid("must be a string");
    return value.get<std::string>();
}

std::vector<std::string> textList(const json& value)
{
    if (!value.is_array())
        invalid("must be an array of strings");
    std::vector<std::string> items;
    for (const json& item : value)
        items.push_back(textValue(item));
    return items;
}

void readChannels(const json& value, Fields& fields)
{
    for (const std::string& word : textList(value)) {
        const ChannelWord* found = nullptr;
        for (const ChannelWord& channel : channelWords) {
            if (word == channel.word)
                found = &channel;
        }
        if (!found)
            invalid("unknown channel \"" + word + "\"");
        fields.*(found->flag) = true;
    }
}

struct FieldReader {
    const char* key;
    void (*read)(const json&, Fields&);
};

constexpr FieldReader fieldReaders[] = {
    { "channels", readChannels },
    { "severity", [](const json& v, Fields& f) { f.severity = intValue(v); } },
    { "priority", [](const json& v, Fields& f) { f.priority = intValue(v); } },
    { "reportingType", [](const json& v, Fields& f) { f.reportingType = intValue(v); } },
    { "reportingSubtype", [](const json& v, Fields& f) { f.reportingSubtype = textValue(v); } },
    { "messageNumber", [](const json& v, Fields& f) { f.messageNumber = messageNumber(v); } },
    { "args", [](const json& v, Fields& f) { f.args = textList(v); } },
    { "holdDown", [](const json& v, Fields& f) { f.holdDown = holdDown(v); } },
};

void readField(const std::string& key, const json& value, Fields& fields)
{
    for (const FieldReader& reader : fieldReaders) {
        if (key == reader.key)
            return reader.read(value, fields);
    }
    invalid("unknown key");
}

Fields readEntry(const json& entry)
{
    if (!entry.is_object())
        invalid("entry must be an object");
    Fields fields;
    for (const auto& item : entry.items()) {
        try {
            readField(item.key(), item.value(), fields);
        } catch (const std::runtime_error& e) {
            invalid("key \"" + item.key() + "\": " + e.what());
        }
    }
    return fields;
}

json readRoot(const std::string& path, Duplicates& duplicates)
{
    try {
        json root = parseNotingDuplicates(readFile(path), duplicates);
        if (!root.is_object())
            invalid("must be a JSON object of event classes");
        return root;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw std::runtime_error("event database " + path + ": " + withoutTag(e.what()));
    }
}

}

EventDB::EventDB()
    : EventDB(databasePath())
{
}

std::string EventDB::configuredPath()
{
    return databasePath();
}

EventDB::EventDB(const std::string& path)
{
    Duplicates duplicates;
    const json root = readRoot(path, duplicates);
    for (const auto& item : root.items()) {
        if (const auto found = duplicates.find(item.key()); found != duplicates.end()) {
            m_skipped.push_back({ item.key(), found->second });
            continue;
        }
        try {
            m_entries.emplace(item.key(), std::make_unique<EventDBEntry>(readEntry(item.value())));
        } catch (const std::runtime_error& e) {
            m_skipped.push_back({ item.key(), e.what() });
        }
    }
}

EventDB::~EventDB() = default;

int EventDB::lookupEventDBEntry(DXAEvent& event, EventDBEntry*& entry)
{
    std::string eventClass;
    const int rc = event.getEventClass(eventClass);
    if (rc != 0)
        return rc;
    const auto found = m_entries.find(eventClass);
    if (found == m_entries.end())
        return ENOENT;
    entry = found->second.get();
    return 0;
}
