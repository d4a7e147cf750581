// orv-event queue [--json] and orv-event history [--since DURATION]
// [--class GLOB] [--json]: the journal's pending deliveries and its
// recorded events, read from the file beside the running daemon (WAL mode
// lets a reader in while it writes). check-config's look at the journal
// settings is here too.
#include <fnmatch.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cmd/kav/email/MailRecipient.h"
#include "cmd/kav/email/RecipientInfo.h"
#include "cmd/kav/KAVMethods.h"
#include "cmd/kav/journal/JournalSettings.h"
#include "cmd/kav/journal/JournalStore.h"
#include "tools/orv-event/CapturedLog.h"
#include "tools/orv-event/DaemonCall.h"
#include "platform/framework/DoorPath.h"
#include "tools/orv-event/OperatorCommands.h"

using nlohmann::json;
using namespace orv::journal;

namespace {

constexpr const char* queueUsage = "usage: orv-event queue [--json]\n"
                                   "       orv-event queue retry ID...|--all\n"
                                   "       orv-event queue drop ID...\n";
constexpr const char* historyUsage = "usage: orv-event history [--since DURATION] [--class GLOB] [--json]\n";
constexpr const char* defaultsFile = "/etc/default/kav";

// A setting of the daemon: NAME here, else as the service's defaults file
// sets it.
std::string daemonSetting(const std::string& name)
{
    if (const char* value = std::getenv(name.c_str()); value && *value)
        return value;
    std::ifstream defaults(defaultsFile);
    std::string value;
    for (std::string line; std::getline(defaults, line);)
        if (line.rfind(name + "=", 0) == 0)
            value = line.substr(name.size() + 1);
    return value;
}

std::string journalPath()
{
    return daemonSetting("ORV_JOURNAL");
}

json optionalJson(const std::optional<std::string>& value)
{
    return value ? json(*value) : json(nullptr);
}

// The addresses of a control file line, as the daemon reads it.
std::string addressesOf(const std::string& line)
{
    const CapturedLog quiet;
    RecipientInfo entry;
    if (MailRecipient().checkECFLine(line, entry) != 0)
        return line;
    std::string templateName, sender, recipients, script;
    bool includeEvent = false;
    entry.splitRecipient(templateName, sender, recipients, includeEvent, script);
    return recipients;
}

// A reader of the journal, or none with the reason printed.
std::optional<JournalStore> openJournal()
{
    const std::string path = journalPath();
    if (path.empty()) {
        std::cerr << "orv-event: no journal: ORV_JOURNAL is not set here or in " << defaultsFile << '\n';
        return std::nullopt;
    }
    try {
        return std::optional<JournalStore>(std::in_place, path, JournalStore::Access::Read);
    } catch (const JournalError& error) {
        std::cerr << "orv-event: journal " << path << ": " << error.what() << '\n';
    }
    return std::nullopt;
}

// How bad a state is, for email's state over all its recipients.
int badness(State state)
{
    switch (state) {
    case State::Delivered:
        return 0;
    case State::Silenced:
        return 1;
    case State::Held:
        return 2;
    case State::Pending:
        return 3;
    case State::Dropped:
        return 4;
    case State::GivenUp:
        return 5;
    }
    return 5;
}

json eventJson(const EventRecord& record)
{
    json channels = json::object();
    json recipients = json::array();
    std::map<Channel, State> worst;
    for (const Delivery& delivery : record.deliveries) {
        auto [at, added] = worst.emplace(delivery.channel, delivery.state);
        if (!added && badness(delivery.state) > badness(at->second))
            at->second = delivery.state;
        if (delivery.channel == Channel::Email && delivery.recipient)
            recipients.push_back(
                { { "to", addressesOf(*delivery.recipient) }, { "state", stateName(delivery.state) } });
    }
    for (const auto& [channel, state] : worst)
        channels[channelName(channel)] = stateName(state);
    return { { "id", record.id }, { "received", isoTime(record.received) }, { "class", record.eventClass },
        { "code", record.code }, { "channels", channels }, { "recipients", recipients } };
}

// Reads the rows from the journal and prints them, as JSON or one line each.
int answer(bool asJson, const std::function<json(JournalStore&)>& read, const std::function<void(const json&)>& line)
{
    auto store = openJournal();
    if (!store)
        return 1;
    json rows;
    try {
        rows = read(*store);
    } catch (const JournalError& error) {
        std::cerr << "orv-event: journal: " << error.what() << '\n';
        return 1;
    }
    return printRows(rows, asJson, line);
}

// The fields every printed row starts with.
void rowStart(const json& row)
{
    std::cout << row["id"] << "  " << row["received"].get<std::string>() << "  " << row["class"].get<std::string>()
              << "  " << row["code"].get<std::string>();
}

}

int printRows(const json& rows, bool asJson, const std::function<void(const json&)>& line)
{
    if (asJson)
        std::cout << rows.dump(2) << '\n';
    else
        for (const json& row : rows)
            line(row);
    return std::cout.flush() ? 0 : 1;
}

std::optional<int64_t> durationMillis(const std::string& text)
{
    static const std::map<char, Millis> units { { 's', 1000 }, { 'm', 60'000 }, { 'h', 3'600'000 },
        { 'd', 86'400'000 } };
    if (text.size() < 2 || !units.count(text.back()))
        return std::nullopt;
    const std::string number = text.substr(0, text.size() - 1);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 9)
        return std::nullopt;
    return std::stoll(number) * units.at(text.back());
}

// Retry or drop through the daemon's door, which decides who may.
static int operatorCall(const std::vector<std::string>& args)
{
    const bool retry = args[0] == "retry";
    std::string param;
    for (size_t i = 1; i < args.size(); ++i) {
        const bool all = retry && args[i] == "--all" && args.size() == 2;
        if (!all && (args[i].empty() || args[i].find_first_not_of("0123456789") != std::string::npos)) {
            std::cerr << queueUsage;
            return 2;
        }
        param += (all ? std::string("all") : args[i]) + " ";
    }
    if (param.empty()) {
        std::cerr << queueUsage;
        return 2;
    }
    orv::framework::DoorReply reply;
    std::string failure;
    if (!orvevent::callDaemon(retry ? kav::methods::retry : kav::methods::drop, param, reply, failure)) {
        std::cerr << "orv-event: " << failure << '\n';
        return 1;
    }
    if (reply.status != 0 || reply.data.empty()) {
        std::cerr << "orv-event: door " << orv::framework::doorPath(KAV_DOOR) << ": the daemon has no journal\n";
        return 1;
    }
    std::cout << std::string(reply.data.begin(), reply.data.end()) << (retry ? " retried\n" : " dropped\n");
    return std::cout.flush() ? 0 : 1;
}

int queueCommand(const std::vector<std::string>& args)
{
    if (!args.empty() && (args[0] == "retry" || args[0] == "drop"))
        return operatorCall(args);
    const bool asJson = args.size() == 1 && args[0] == "--json";
    if (!args.empty() && !asJson) {
        std::cerr << queueUsage;
        return 2;
    }
    return answer(
        asJson,
        [](JournalStore& store) {
            json rows = json::array();
            std::map<int64_t, EventRecord> events;
            for (const Delivery& delivery : store.pending()) {
                if (!events.count(delivery.eventId))
                    events.emplace(delivery.eventId, store.event(delivery.eventId).value_or(EventRecord {}));
                const EventRecord& event = events.at(delivery.eventId);
                rows.push_back({ { "id", delivery.eventId }, { "received", isoTime(event.received) },
                    { "class", event.eventClass }, { "code", event.code }, { "channel", channelName(delivery.channel) },
                    { "recipient", delivery.recipient ? json(addressesOf(*delivery.recipient)) : json(nullptr) },
                    { "tries", delivery.tries },
                    { "nextTry", delivery.nextTry ? json(isoTime(*delivery.nextTry)) : json(nullptr) },
                    { "lastError", optionalJson(delivery.lastError) } });
            }
            return rows;
        },
        [](const json& row) {
            rowStart(row);
            std::cout << "  " << row["channel"].get<std::string>();
            if (!row["recipient"].is_null())
                std::cout << " " << row["recipient"].get<std::string>();
            std::cout << "  tries " << row["tries"];
            if (!row["nextTry"].is_null())
                std::cout << "  next " << row["nextTry"].get<std::string>();
            if (!row["lastError"].is_null())
                std::cout << "  " << row["lastError"].get<std::string>();
            std::cout << '\n';
        });
}

int historyCommand(const std::vector<std::string>& args)
{
    bool asJson = false;
    Millis since = 0;
    std::optional<std::string> classGlob;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            asJson = true;
        } else if (args[i] == "--since" && i + 1 < args.size()) {
            const auto span = durationMillis(args[++i]);
            if (!span) {
                std::cerr << "orv-event: --since " << args[i] << ": not like 90s, 15m, 6h or 7d\n";
                return 2;
            }
            since = nowMillis() - *span;
        } else if (args[i] == "--class" && i + 1 < args.size()) {
            classGlob = args[++i];
        } else {
            std::cerr << historyUsage;
            return 2;
        }
    }
    return answer(
        asJson,
        [&](JournalStore& store) {
            json rows = json::array();
            for (const EventRecord& record : store.history(since))
                if (!classGlob || fnmatch(classGlob->c_str(), record.eventClass.c_str(), 0) == 0)
                    rows.push_back(eventJson(record));
            return rows;
        },
        [](const json& row) {
            rowStart(row);
            for (const auto& [channel, state] : row["channels"].items())
                std::cout << "  " << channel << "=" << state.get<std::string>();
            for (const json& recipient : row["recipients"])
                std::cout << "  [" << recipient["to"].get<std::string>() << " " << recipient["state"].get<std::string>()
                          << "]";
            std::cout << '\n';
        });
}

std::vector<std::string> journalProblems()
{
    JournalSettings settings = JournalSettings::fromEnvironment();
    if (settings.path.empty())
        settings.path = journalPath();
    std::vector<std::string> problems = settings.problems;
    // The daemon refuses to start with a ceiling on mail and no journal.
    const std::string mailRate = daemonSetting("ORV_MAIL_RATE");
    if (settings.path.empty() && !mailRate.empty() && mailRate.find_first_not_of('0') != std::string::npos)
        problems.push_back("ORV_MAIL_RATE=" + mailRate + ": a ceiling on mail needs ORV_JOURNAL; kav would not start");
    if (settings.path.empty() || settings.path.front() != '/')
        return problems;
    // The nearest folder that exists must let the daemon make the rest.
    std::filesystem::path folder = std::filesystem::path(settings.path).parent_path();
    std::error_code error;
    while (!folder.empty() && !std::filesystem::exists(folder, error) && folder != folder.root_path())
        folder = folder.parent_path();
    if (!std::filesystem::is_directory(folder, error) || access(folder.c_str(), W_OK) != 0)
        problems.push_back("ORV_JOURNAL=" + settings.path + ": folder " + folder.string() + " is not writable");
    return problems;
}
