// orv-event route [--json] FILE.json: what the daemon would do with an event,
// worked out by the daemon's own code (database lookup, message formatting,
// frame building, control-file selection, template editing) with nothing
// sent and nothing logged.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/orv-event/CapturedLog.h"
#include "platform/event/DXAEvent.h"
#include "cmd/kav/email/EditTemplate.h"
#include "cmd/kav/email/EmailReportingService.h"
#include "platform/event/EventCodec.h"
#include "platform/event/EventDB.h"
#include "platform/event/EventDBEntry.h"
#include "cmd/kav/email/MailRecipient.h"
#include "cmd/kav/message/MessageReportingService.h"
#include "tools/orv-event/OperatorCommands.h"
#include "platform/sendevent/OrvEventFrame.h"
#include "cmd/kav/frontend/OrvEventReportingService.h"
#include "cmd/kav/remote/RemoteReportingService.h"
#include "cmd/kav/email/TagReplacement.h"
#include "cmd/kav/KAVMethods.h"
#include "tools/orv-event/DaemonCall.h"

namespace {

using nlohmann::json;

struct RouteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<char> packedEvent(const std::string& path)
{
    std::ifstream file;
    std::istream* in = &std::cin;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file)
            throw RouteError(path + ": cannot open");
        in = &file;
    }
    try {
        return orv::event::packJson(json::parse(*in));
    } catch (const std::exception& e) {
        throw RouteError(path + ": bad event JSON: " + e.what());
    }
}

// The first error line the daemon's code logged, if any: the report would
// stop there.
std::string failureIn(const std::vector<CapturedLog::Entry>& lines)
{
    for (const auto& line : lines) {
        if (line.level >= 4 && !line.eventOutput)
            return line.text;
    }
    return {};
}

json failed(const std::string& why)
{
    return { { "failure", why } };
}

// The message channel's own code, run with its lines captured.
json messagePlan(DXAEvent& event, const EventDBEntry* entry, CapturedLog& log)
{
    MessageReportingService().reportEventMessage(event, entry);
    const auto lines = log.take();
    json plan = { { "level", nullptr }, { "logs", json::array() }, { "text", nullptr } };
    for (const auto& line : lines) {
        if (!line.eventOutput)
            continue;
        plan["level"] = line.level;
        plan["logs"].push_back(CapturedLog::destinationName(line.destination));
        plan["text"] = line.text;
    }
    if (std::string why = failureIn(lines); !why.empty())
        plan["failure"] = why;
    return plan;
}

json orvEventPlan(DXAEvent& event, const EventDBEntry* entry, const std::string& eventClass, CapturedLog& log)
{
    OrvEventFrame frame;
    const int rc = OrvEventReportingService::buildFrame(event, entry, eventClass, frame);
    const std::string why = failureIn(log.take());
    if (rc != 0)
        return failed(why);
    return { { "priority", frame.priorityLevel() }, { "text", frame.eventText() } };
}

json remotePlan(DXAEvent& event, const EventDBEntry* entry)
{
    std::string subtype;
    if (entry->getEventReportingSubtype(subtype) != 0)
        return failed("the entry has no reportingSubtype");
    orv::EventPriority priority {};
    if (entry->getEventPriority(priority) != 0 || !orv::isNamedPriority(priority))
        return failed("the entry's priority is missing or invalid");
    orv::EventReportingType type {};
    const char* messageType
        = entry->getEventReportingType(type) == 0 ? RemoteReportingService::messageType(type) : nullptr;
    if (!messageType)
        return failed("the entry's reportingType is missing or invalid");
    json plan = { { "type", messageType }, { "subtype", subtype }, { "severity", nullptr }, { "alarmState", nullptr },
        { "text", nullptr } };
    if (type == orv::EVENT_REPORTING_DATA)
        return plan;

    orv::EventSeverity severity {};
    if (entry->getEventSeverity(severity) != 0 || !orv::isNamedSeverity(severity))
        return failed("the entry's severity is missing or invalid");
    std::string code;
    std::string csn;
    if (event.getEventCode(code) != 0 || event.getEventSourcePlatformCSN(csn) != 0)
        return failed("the event has no code or no platform CSN");
    plan["severity"] = severity;
    plan["text"] = RemoteReportingService::eventText(code, csn);
    if (type == orv::EVENT_REPORTING_ALARM)
        plan["alarmState"] = RemoteReportingService::alarmOpenState;
    return plan;
}

// The subject itself, from the "Subject: ...\n" header line.
std::string subjectOf(std::string header)
{
    const std::string name = "Subject:";
    if (header.compare(0, name.size(), name) == 0)
        header.erase(0, header.compare(name.size(), 1, " ") == 0 ? name.size() + 1 : name.size());
    if (!header.empty() && header.back() == '\n')
        header.pop_back();
    return header;
}

// One selected control-file line: what its mail would be, by the same
// template code, the edited body going nowhere.
json mailPlan(int lineNumber, const RecipientInfo& info, EmailReportingService& email,
    const std::vector<std::string>& tags, const std::vector<std::string>& values, CapturedLog& log)
{
    RecipientInfo copy = info;
    std::string templateName, sender, recipients, scriptName;
    bool includeEvent = false;
    copy.splitRecipient(templateName, sender, recipients, includeEvent, scriptName);
    json plan = { { "line", lineNumber }, { "recipients", recipients }, { "template", templateName },
        { "script", scriptName }, { "includeEvent", includeEvent }, { "subject", nullptr } };
    const std::string templatePath = email.getTemplatePath(templateName);
    if (email.verifyFilesExist(templatePath, email.getScriptPath(scriptName)) != 0) {
        plan["failure"] = failureIn(log.take());
        return plan;
    }
    EditTemplate editor;
    editor.processTags(tags, values, templatePath, "/dev/null");
    plan["subject"] = subjectOf(editor.getSubject());
    return plan;
}

json emailPlan(DXAEvent& event, const EventDBEntry* entry, CapturedLog& log)
{
    EmailReportingService email;
    std::string domains;
    if (event.getDomainsAffected(domains) != 0)
        return failed("the event has no affected domains");
    std::vector<std::string> faultClasses;
    email.getFaultVector(event, faultClasses);
    std::vector<std::string> tags;
    std::vector<std::string> values;
    TagReplacement().getTags(event, tags, values);
    orv::EventSeverity severity {};
    if (entry->getEventSeverity(severity) != 0)
        return failed("the entry has no severity");
    email.getSeverityTag(severity, tags, values);
    log.take();

    MailRecipient selection;
    if (selection.openECF(email.getECFPath()) != 0)
        return failed("cannot open " + email.getECFPath());
    json mails = json::array();
    int lineNumber = 0;
    for (std::string line; selection.nextECFLine(line) == 0;) {
        ++lineNumber;
        RecipientInfo info;
        if (selection.addRecipient(faultClasses, domains, line, info) == 0)
            mails.push_back(mailPlan(lineNumber, info, email, tags, values, log));
    }
    log.take();
    return mails;
}

// Whether the running daemon holds the event's fault now: only it knows
// which faults it reported lately.
void askHoldDown(const std::vector<char>& packed, json& result)
{
    orv::framework::DoorReply reply;
    std::string failure;
    if (!orvevent::callDaemon(
            kav::methods::holdDownState, std::string_view(packed.data(), packed.size()), reply, failure)) {
        result["heldUnknown"] = failure;
        return;
    }
    try {
        const json answer = json::parse(std::string(reply.data.begin(), reply.data.end()));
        if (reply.status != 0 || answer.value("holdDown", 0) != result["holdDown"]) {
            result["heldUnknown"] = "the daemon's event database differs from this one";
            return;
        }
        result["held"] = answer.at("held");
        for (const char* key : { "heldUntil", "heldSoFar" })
            if (answer.contains(key))
                result[key] = answer[key];
    } catch (const std::exception&) {
        result["heldUnknown"] = "the daemon does not answer for hold-downs";
    }
}

json route(DXAEvent& event, CapturedLog& log)
{
    std::unique_ptr<EventDB> database;
    try {
        database = std::make_unique<EventDB>();
    } catch (const std::exception& e) {
        throw RouteError(e.what());
    }
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0)
        throw RouteError("the event has no class");
    EventDBEntry* entry = nullptr;
    if (database->lookupEventDBEntry(event, entry) != 0)
        throw RouteError("unknown event class " + eventClass);
    log.take();

    json channels;
    channels["message"] = entry->reportViaMsg() ? messagePlan(event, entry, log) : json();
    channels["orvEvent"] = entry->reportViaOrvEvent() ? orvEventPlan(event, entry, eventClass, log) : json();
    channels["remote"] = entry->reportViaRemote() ? remotePlan(event, entry) : json();
    channels["email"] = entry->reportViaEmail() ? emailPlan(event, entry, log) : json();
    json result { { "class", eventClass }, { "channels", channels } };
    if (entry->holdDownSeconds() > 0)
        result["holdDown"] = entry->holdDownSeconds();
    return result;
}

void printChannel(const char* name, const json& plan)
{
    std::cout << name << ":";
    if (plan.is_null()) {
        std::cout << " not asked for\n";
        return;
    }
    if (plan.contains("failure"))
        std::cout << " would fail: " << plan["failure"].get<std::string>() << '\n';
    else
        std::cout << '\n';
}

void printText(const json& result)
{
    const json& channels = result["channels"];
    std::cout << "class: " << result["class"].get<std::string>() << '\n';
    if (result.contains("holdDown")) {
        std::cout << "hold-down: " << result["holdDown"]
                  << " seconds; repeats of a reported fault within it are held back from orvEvent, remote and "
                     "email\n";
        if (result.contains("heldUnknown"))
            std::cout << "  whether this event would be held is unknown: " << result["heldUnknown"].get<std::string>()
                      << '\n';
        else if (result["held"].get<bool>())
            std::cout << "  this event would be held, until " << result["heldUntil"].get<std::string>() << " ("
                      << result["heldSoFar"] << " held so far)\n";
        else
            std::cout << "  this event would be reported: its fault is not held now\n";
    }

    const json& message = channels["message"];
    printChannel("message", message);
    if (!message.is_null() && !message["logs"].empty()) {
        std::cout << "  level " << message["level"] << " to";
        for (const auto& log : message["logs"])
            std::cout << ' ' << log.get<std::string>();
        std::cout << "\n  " << message["text"].get<std::string>() << '\n';
    }

    const json& frame = channels["orvEvent"];
    printChannel("orvEvent", frame);
    if (!frame.is_null() && !frame.contains("failure"))
        std::cout << "  priority " << frame["priority"] << ", text " << frame["text"].get<std::string>() << '\n';

    const json& remote = channels["remote"];
    printChannel("remote", remote);
    if (!remote.is_null() && !remote.contains("failure")) {
        std::cout << "  " << remote["type"].get<std::string>() << ", subtype " << remote["subtype"].get<std::string>();
        if (!remote["severity"].is_null())
            std::cout << ", severity " << remote["severity"];
        if (!remote["alarmState"].is_null())
            std::cout << ", alarm " << remote["alarmState"].get<std::string>();
        if (!remote["text"].is_null())
            std::cout << ", text " << remote["text"].get<std::string>();
        std::cout << '\n';
    }

    const json& email = channels["email"];
    if (!email.is_array()) {
        printChannel("email", email);
        return;
    }
    std::cout << "email: " << email.size() << (email.size() == 1 ? " line matches\n" : " lines match\n");
    for (const auto& mail : email) {
        std::cout << "  line " << mail["line"] << ": to " << mail["recipients"].get<std::string>() << ", template "
                  << mail["template"].get<std::string>() << ", script " << mail["script"].get<std::string>()
                  << (mail["includeEvent"].get<bool>() ? ", event attached\n" : ", no attachment\n");
        if (mail.contains("failure"))
            std::cout << "    would fail: " << mail["failure"].get<std::string>() << '\n';
        else
            std::cout << "    " << mail["subject"].get<std::string>() << '\n';
    }
}

}

int routeCommand(const std::vector<std::string>& args)
{
    const bool asJson = args.size() == 2 && args[0] == "--json";
    if (args.size() != 1 && !asJson) {
        std::cerr << "usage: orv-event route [--json] FILE.json\n";
        return 2;
    }
    CapturedLog log;
    try {
        std::vector<char> packed = packedEvent(args.back());
        DXAEvent event(packed.data(), static_cast<unsigned>(packed.size()));
        json result = route(event, log);
        if (result.contains("holdDown"))
            askHoldDown(packed, result);
        if (asJson)
            std::cout << result.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
        else
            printText(result);
    } catch (const std::exception& e) {
        std::cerr << "orv-event: " << e.what() << '\n';
        return 1;
    }
    return std::cout.flush() ? 0 : 1;
}
