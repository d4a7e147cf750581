// orv-event silence add|list|expire: the operator's silences, made, read
// and ended through the daemon's door (whose peer check decides who may);
// the daemon keeps them in its journal.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <iostream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cmd/kav/KAVMethods.h"
#include "cmd/kav/journal/JournalTypes.h"
#include "platform/framework/DoorPath.h"
#include "tools/orv-event/DaemonCall.h"
#include "tools/orv-event/OperatorCommands.h"

using nlohmann::json;
using orv::journal::Millis;

namespace {

constexpr const char* silenceUsage
    = "usage: orv-event silence add --class GLOB [--code GLOB] [--domains LETTERS] [--csn TEXT]\n"
      "           [--channels LIST] (--for DURATION | --until TIME) --comment TEXT\n"
      "       orv-event silence list [--all] [--json]\n"
      "       orv-event silence expire ID\n";

int usage()
{
    std::cerr << silenceUsage;
    return 2;
}

int badValue(const std::string& option, const std::string& value, const char* expected)
{
    std::cerr << "orv-event: " << option << " " << value << ": " << expected << '\n';
    return 2;
}

// Why the daemon did not answer a silence call with its data.
std::string refusal(int code, const std::string& param)
{
    namespace status = kav::methods::silenceStatus;
    switch (code) {
    case 0:
        return "the daemon does not take silences";
    case status::noJournal:
        return "silences need the journal, and the daemon runs without one (ORV_JOURNAL)";
    case status::journalFailed:
        return "the daemon's journal cannot be used now (see its platform log)";
    case status::notActive:
        return "no active silence has the id " + param;
    case status::malformed:
        return "the daemon refused the silence as malformed";
    }
    return "door " + orv::framework::doorPath(KAV_DOOR) + ": call failed with status " + std::to_string(code);
}

// The daemon's answer to one silence call, or none with the reason printed.
std::optional<std::string> ask(unsigned method, const std::string& param)
{
    orv::framework::DoorReply reply;
    std::string failure;
    if (!orvevent::callDaemon(method, param, reply, failure)) {
        std::cerr << "orv-event: " << failure << '\n';
        return std::nullopt;
    }
    if (reply.status == 0 && !reply.data.empty())
        return std::string(reply.data.begin(), reply.data.end());
    std::cerr << "orv-event: " << refusal(reply.status, param) << '\n';
    return std::nullopt;
}

// "2026-12-24T08:00:00Z"; seconds, their fractions and the zone may be left
// out, the zone given as an offset ("+01:00", "+0100", "-05"); without
// one, local time. None for anything else, an invalid date included.
std::optional<Millis> isoMillis(const std::string& text)
{
    static const std::regex form(
        R"(^(\d{4})-(\d{2})-(\d{2})[T ](\d{2}):(\d{2})(?::(\d{2})(\.\d+)?)?(Z|([+-])(\d{2})(?::?(\d{2}))?)?$)");
    std::smatch parts;
    if (!std::regex_match(text, parts, form))
        return std::nullopt;
    const auto number = [&](size_t i) { return parts[i].matched ? std::stoi(parts[i].str()) : 0; };
    struct tm fields { };
    fields.tm_year = number(1) - 1900;
    fields.tm_mon = number(2) - 1;
    fields.tm_mday = number(3);
    fields.tm_hour = number(4);
    fields.tm_min = number(5);
    fields.tm_sec = number(6);
    fields.tm_isdst = -1;
    struct tm given = fields;
    const bool local = !parts[8].matched;
    const time_t seconds = local ? mktime(&fields) : timegm(&fields);
    // Both normalise what is out of range ("02-30" into March): such a time
    // is no time.
    if (seconds == -1 || fields.tm_mday != given.tm_mday || fields.tm_mon != given.tm_mon
        || fields.tm_hour != given.tm_hour || fields.tm_min != given.tm_min || fields.tm_sec != given.tm_sec)
        return std::nullopt;
    const int offset = (number(10) * 60 + number(11)) * (parts[9].str() == "-" ? -1 : 1);
    if (number(10) > 23 || number(11) > 59)
        return std::nullopt;
    const Millis fraction = parts[7].matched ? Millis(std::stod("0" + parts[7].str()) * 1000) : 0;
    return (Millis(seconds) - offset * 60) * 1000 + fraction;
}

int add(const std::vector<std::string>& args)
{
    json request { { "channels", { "orvEvent", "remote", "email" } } };
    std::optional<Millis> ends;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 == args.size())
            return usage();
        const std::string& value = args[++i];
        if (option == "--class" || option == "--code" || option == "--csn" || option == "--comment") {
            if (value.empty())
                return badValue(option, "\"\"", "must not be empty");
            request[option.substr(2)] = value;
        } else if (option == "--domains") {
            std::string letters;
            for (char letter : value)
                letters += static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
            if (letters.empty() || letters.find_first_not_of("ABCDEFGHIJKLMNOPQR") != std::string::npos)
                return badValue(option, value, "one letter A to R per domain");
            request["domains"] = letters;
        } else if (option == "--channels") {
            using orv::journal::Channel;
            const auto channels = orv::journal::channelsFromList(value);
            if (!channels || std::find(channels->begin(), channels->end(), Channel::Message) != channels->end())
                return badValue(option, value, "a comma list of orvEvent, remote and email");
            json names = json::array();
            for (Channel channel : *channels)
                names.push_back(orv::journal::channelName(channel));
            request["channels"] = names;
        } else if ((option == "--for" || option == "--until") && !ends) {
            const Millis now = orv::journal::nowMillis();
            if (option == "--for") {
                const auto span = durationMillis(value);
                if (!span || *span == 0)
                    return badValue(option, value, "not like 90s, 15m, 6h or 7d");
                ends = now + *span;
            } else {
                ends = isoMillis(value);
                if (!ends)
                    return badValue(option, value, "not an ISO 8601 time like 2026-12-24T08:00:00Z");
                if (*ends <= now)
                    return badValue(option, value, "already past");
            }
        } else {
            return usage();
        }
    }
    if (!request.contains("class") || !request.contains("comment") || !ends)
        return usage();
    request["ends"] = *ends;
    const auto id = ask(kav::methods::silenceAdd, request.dump());
    if (!id)
        return 1;
    std::cout << *id << '\n';
    return std::cout.flush() ? 0 : 1;
}

// One silence as a line: id, whether active, from and until, matchers,
// channels, comment.
void printLine(const json& silence)
{
    std::cout << silence["id"] << "  " << (silence["active"].get<bool>() ? "active" : "ended") << "  "
              << silence["startsAt"].get<std::string>() << ".." << silence["endsAt"].get<std::string>() << "  class "
              << silence["matchers"]["class"].get<std::string>();
    for (const char* matcher : { "code", "domains", "csn" })
        if (const json& value = silence["matchers"][matcher]; !value.is_null())
            std::cout << ' ' << matcher << ' ' << value.get<std::string>();
    std::cout << " ";
    const char* separator = " ";
    for (const json& channel : silence["channels"]) {
        std::cout << separator << channel.get<std::string>();
        separator = ",";
    }
    std::cout << "  " << silence["comment"].get<std::string>() << '\n';
}

int list(const std::vector<std::string>& args)
{
    bool all = false, asJson = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--all")
            all = true;
        else if (args[i] == "--json")
            asJson = true;
        else
            return usage();
    }
    const auto answer = ask(kav::methods::silenceList, json { { "all", all } }.dump());
    if (!answer)
        return 1;
    const json silences = json::parse(*answer, nullptr, false);
    if (!silences.is_array()) {
        std::cerr << "orv-event: the daemon's answer is no list of silences\n";
        return 1;
    }
    return printRows(silences, asJson, printLine);
}

}

int silenceCommand(const std::vector<std::string>& args)
{
    if (!args.empty() && args[0] == "add")
        return add(args);
    if (!args.empty() && args[0] == "list")
        return list(args);
    if (args.size() != 2 || args[0] != "expire" || args[1].empty() || args[1].size() > 18
        || args[1].find_first_not_of("0123456789") != std::string::npos)
        return usage();
    const auto id = ask(kav::methods::silenceExpire, std::to_string(std::stoll(args[1])));
    if (!id)
        return 1;
    std::cout << "silence " << *id << " ended\n";
    return std::cout.flush() ? 0 : 1;
}
