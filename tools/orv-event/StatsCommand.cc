// orv-event stats [--prometheus]: the running daemon's counters since it
// started, read from its stats door, as JSON or in the text format of the
// Prometheus exposition (for node_exporter's textfile collector).
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/framework/DoorClient.h"
#include "platform/framework/DoorPath.h"
#include "tools/orv-event/OperatorCommands.h"
#include "tools/orv-event/TimeoutOption.h"

using orv::framework::DoorClient;
using orv::framework::DoorReply;
using orv::framework::KAV_STATS_DOOR;

namespace {

using nlohmann::json;

constexpr const char* channelNames[] = { "message", "orvEvent", "remote", "email" };

void metric(std::ostream& out, const char* name, const char* type, const char* help)
{
    out << "# HELP " << name << ' ' << help << '\n' << "# TYPE " << name << ' ' << type << '\n';
}

void sample(std::ostream& out, const char* name, const char* type, const char* help, const json& value)
{
    metric(out, name, type, help);
    out << name << ' ' << value << '\n';
}

std::string prometheusText(const json& stats)
{
    std::ostringstream out;
    sample(out, "kav_uptime_seconds", "gauge", "Seconds since the daemon started.", stats.at("uptimeSeconds"));
    sample(out, "kav_events_received_total", "counter", "Report and test-email requests whose event was decoded.",
        stats.at("eventsReceived"));
    sample(out, "kav_unknown_class_total", "counter", "Events whose class is not in the event database.",
        stats.at("unknownClass"));
    sample(out, "kav_bad_events_total", "counter", "Requests whose parameter gave no event.", stats.at("badEvents"));
    sample(out, "kav_events_held_total", "counter",
        "Events held back from the front-end, remote and email channels by their fault's hold-down.",
        stats.value("held", 0));
    sample(out, "kav_events_silenced_total", "counter",
        "Events held back from one or more channels by an operator's silence.", stats.value("silenced", 0));
    metric(out, "kav_channel_reports_total", "counter", "Reports handed to each channel, by whether they failed.");
    for (const char* name : channelNames) {
        const json& channel = stats.at("channels").at(name);
        for (const char* result : { "reported", "failed" }) {
            out << "kav_channel_reports_total{channel=\"" << name << "\",result=\"" << result << "\"} "
                << channel.at(result) << '\n';
        }
    }
    const json& journal = stats.at("journal");
    sample(out, "kav_journal_up", "gauge", "1 while the event journal is in use, else 0.",
        journal.at("state") == "ok" ? 1 : 0);
    sample(out, "kav_journal_pending", "gauge", "Deliveries waiting in the journal.", journal.at("pending"));
    sample(out, "kav_deliveries_retried_total", "counter", "Failed delivery tries followed by another try.",
        journal.at("retried"));
    sample(out, "kav_deliveries_given_up_total", "counter", "Deliveries given up when their time ran out.",
        journal.at("givenUp"));
    sample(out, "kav_deliveries_dropped_total", "counter", "Deliveries an operator dropped.", journal.at("dropped"));
    sample(out, "kav_mail_deferred_total", "counter", "Mails that had to wait for the ceiling on mail.",
        journal.value("mailDeferred", 0));
    return out.str();
}

}

int statsCommand(const std::vector<std::string>& args)
{
    const bool prometheus = args.size() == 1 && args[0] == "--prometheus";
    if (!args.empty() && !prometheus) {
        std::cerr << "usage: orv-event stats [--prometheus]\n";
        return 2;
    }
    DoorClient client(KAV_STATS_DOOR);
    DoorReply reply;
    if (int rc = client.call(0, nullptr, 0, reply, orvevent::callDeadline()); rc != 0) {
        std::cerr << "orv-event: door " << client.path() << ": " << strerror(rc) << '\n';
        return 1;
    }
    json stats;
    try {
        if (reply.status != 0)
            throw std::runtime_error("call failed with status " + std::to_string(reply.status));
        stats = json::parse(reply.data.begin(), reply.data.end());
        if (prometheus)
            std::cout << prometheusText(stats);
        else
            std::cout << stats.dump(2) << '\n';
    } catch (const std::exception& e) {
        std::cerr << "orv-event: door " << client.path() << ": " << e.what() << '\n';
        return 1;
    }
    return std::cout.flush() ? 0 : 1;
}
