// The operator commands of orv-event: each takes the arguments after its
// name and returns the exit status, having printed its own result or error.
#pragma once

#include <string>
#include <vector>

int statsCommand(const std::vector<std::string>& args);
int routeCommand(const std::vector<std::string>& args);
int checkConfigCommand(const std::vector<std::string>& args);
int queueCommand(const std::vector<std::string>& args);
int historyCommand(const std::vector<std::string>& args);
// What is wrong with the journal settings, one line each.
std::vector<std::string> journalProblems();
