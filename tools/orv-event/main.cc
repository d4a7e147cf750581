// orv-event: posts events to the daemon's door and converts between the
// event JSON and the packed form.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "cmd/kav/KAVVerdict.h"
#include "platform/event/EventCodec.h"
#include "platform/framework/DoorClient.h"
#include "platform/framework/DoorPath.h"
#include "platform/log/LogLine.h"
#include "tools/orv-event/OperatorCommands.h"
#include "tools/orv-event/TimeoutOption.h"

using orv::framework::DoorClient;
using orv::framework::doorPath;
using orv::framework::DoorReply;
using orv::log::escapeControlCharacters;
using orv::log::MAX_VALUE_BYTES;
using orv::log::shortenedValue;

namespace {

constexpr const char* usageText = "usage: orv-event post FILE.json\n"
                                  "       orv-event test-email FILE.json\n"
                                  "       orv-event call METHOD FILE.json\n"
                                  "       orv-event send-raw METHOD FILE\n"
                                  "       orv-event pack FILE.json > event.bin\n"
                                  "       orv-event unpack event.bin\n"
                                  "       orv-event stats [--prometheus]\n"
                                  "       orv-event route [--json] FILE.json\n"
                                  "       orv-event check-config [--eventdb FILE] [--control-file FILE]\n"
                                  "       orv-event queue [--json]\n"
                                  "       orv-event queue retry ID...|--all\n"
                                  "       orv-event queue drop ID...\n"
                                  "       orv-event history [--since DURATION] [--class GLOB] [--json]\n"
                                  "       orv-event silence add --class GLOB [--code GLOB] [--domains LETTERS]\n"
                                  "           [--csn TEXT] [--channels LIST] (--for DURATION | --until TIME)\n"
                                  "           --comment TEXT\n"
                                  "       orv-event silence list [--all] [--json]\n"
                                  "       orv-event silence expire ID\n"
                                  "FILE may be - for standard input. Door calls give up after 30 seconds\n"
                                  "or after --timeout SECONDS, given before the command.\n";

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<char> readFile(const std::string& path)
{
    if (path == "-")
        return { std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>() };
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(path + ": " + strerror(errno));
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

std::vector<char> packJsonFile(const std::string& path)
{
    std::vector<char> text = readFile(path);
    try {
        const nlohmann::json event = nlohmann::json::parse(text.begin(), text.end());
        return orv::event::packJson(event);
    } catch (const std::exception& e) {
        throw Failure(path + ": bad event JSON: " + e.what());
    }
}

unsigned parseMethod(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value > 0xffffffffUL || text[0] == '-')
        throw Failure("bad method id: " + text);
    return static_cast<unsigned>(value);
}

// The class the parameter names, as a line of text; empty when it is no
// event or has no class.
std::string classOf(const std::vector<char>& param)
{
    try {
        for (const orv::event::Member& member : orv::event::unpack(param.data(), param.size())) {
            const auto* text = std::get_if<std::string>(&member.value);
            if (member.name == orv::event::key::eventClass && text)
                return escapeControlCharacters(text->size() > MAX_VALUE_BYTES ? shortenedValue(*text) : *text);
        }
    } catch (const std::exception&) {
    }
    return {};
}

// Why the parameter is no packed event, as this program's own reader finds.
std::string whyNotAnEvent(const std::vector<char>& param)
{
    if (param.empty())
        return "the parameter is empty";
    try {
        orv::event::unpack(param.data(), param.size());
    } catch (const std::exception& e) {
        return e.what();
    }
    return "the daemon could not decode it";
}

// The daemon's verdict on a report or test email (cmd/kav/KAVVerdict.h) in
// words; the status of any other method as a number.
std::string refusal(unsigned method, const std::vector<char>& param, int status)
{
    if (method == 0 || method == 1) {
        switch (static_cast<KAVVerdict>(status)) {
        case KAVVerdict::NotAnEvent:
        case KAVVerdict::EmptyParameter:
            return "not a packed event: " + whyNotAnEvent(param);
        case KAVVerdict::UnknownClass:
            return "refused: unknown class " + classOf(param);
        case KAVVerdict::NoClass:
            return "refused: the event has no class";
        case KAVVerdict::NotForEmail:
            return "refused: class " + classOf(param) + " does not ask for email";
        case KAVVerdict::Taken:
            break;
        }
    }
    return "door " + doorPath(KAV_DOOR) + ": call failed with status " + std::to_string(status);
}

int callDoor(unsigned method, const std::vector<char>& param)
{
    DoorClient client(KAV_DOOR);
    DoorReply reply;
    if (int rc = client.call(method, param.data(), param.size(), reply, orvevent::callDeadline()); rc != 0)
        throw Failure("door " + doorPath(KAV_DOOR) + ": " + strerror(rc));
    if (reply.status != 0)
        throw Failure(refusal(method, param, reply.status));
    return 0;
}

int run(const std::vector<std::string>& args)
{
    if (args.size() == 2 && args[0] == "post")
        return callDoor(0, packJsonFile(args[1]));
    if (args.size() == 2 && args[0] == "test-email")
        return callDoor(1, packJsonFile(args[1]));
    if (args.size() == 3 && args[0] == "call")
        return callDoor(parseMethod(args[1]), packJsonFile(args[2]));
    if (args.size() == 3 && args[0] == "send-raw")
        return callDoor(parseMethod(args[1]), readFile(args[2]));
    if (!args.empty() && args[0] == "stats")
        return statsCommand({ args.begin() + 1, args.end() });
    if (!args.empty() && args[0] == "route")
        return routeCommand({ args.begin() + 1, args.end() });
    if (!args.empty() && args[0] == "check-config")
        return checkConfigCommand({ args.begin() + 1, args.end() });
    if (!args.empty() && args[0] == "queue")
        return queueCommand({ args.begin() + 1, args.end() });
    if (!args.empty() && args[0] == "history")
        return historyCommand({ args.begin() + 1, args.end() });
    if (!args.empty() && args[0] == "silence")
        return silenceCommand({ args.begin() + 1, args.end() });
    if (args.size() == 2 && args[0] == "pack") {
        std::vector<char> packed = packJsonFile(args[1]);
        std::cout.write(packed.data(), static_cast<std::streamsize>(packed.size()));
        return std::cout.flush() ? 0 : 1;
    }
    if (args.size() == 2 && args[0] == "unpack") {
        std::vector<char> packed = readFile(args[1]);
        try {
            const std::vector<orv::event::Member> members = orv::event::unpack(packed.data(), packed.size());
            std::cout << orv::event::toTypedJson(members, orv::event::packedByteOrder(packed.data(), packed.size()),
                orv::event::packedListFlags(packed.data(), packed.size()))
                             .dump(2)
                      << '\n';
        } catch (const std::exception& e) {
            throw Failure(args[1] + ": not a packed event: " + e.what());
        }
        return 0;
    }
    std::cerr << usageText;
    return 2;
}

}

int main(int argc, char** argv)
{
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        orvevent::takeTimeoutOption(args);
        return run(args);
    } catch (const std::exception& e) {
        std::cerr << "orv-event: " << e.what() << '\n';
        return 1;
    }
}
