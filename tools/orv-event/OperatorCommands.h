// The operator commands of orv-event: each takes the arguments after its
// name and returns the exit status, having printed its own result or error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

int statsCommand(const std::vector<std::string>& args);
int routeCommand(const std::vector<std::string>& args);
int checkConfigCommand(const std::vector<std::string>& args);
int queueCommand(const std::vector<std::string>& args);
int historyCommand(const std::vector<std::string>& args);
int silenceCommand(const std::vector<std::string>& args);
// Prints the rows as indented JSON, or each with `line`; the exit status.
int printRows(const nlohmann::json& rows, bool asJson, const std::function<void(const nlohmann::json&)>& line);
// "90s", "15m", "6h", "7d" in milliseconds; none for anything else.
std::optional<int64_t> durationMillis(const std::string& text);
// What is wrong with the journal settings, one line each.
std::vector<std::string> journalProblems();
