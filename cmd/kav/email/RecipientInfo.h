// One line of the email control file that applies to the event being
// reported: which template to fill, who sends and receives, whether the
// packed event goes along, and which script submits the mail.
#pragma once

#include <string>

class RecipientInfo {
public:
    // What a lookup past the selected entries yields: a single blank in each
    // text and the event included.
    RecipientInfo();
    RecipientInfo(const std::string& templateName, const std::string& sender, const std::string& recipients,
        bool includeEvent, const std::string& scriptName);

    // The suite's interface: five out-parameters, as its callers expect.
    void splitRecipient(std::string& templateName, std::string& sender, std::string& recipients, bool& includeEvent,
        std::string& scriptName) const;

private:
    // The suite's interface: these members' names.
    std::string templateName;
    std::string sender;
    std::string recipients;
    bool includeEvent;
    std::string scriptName;
};
