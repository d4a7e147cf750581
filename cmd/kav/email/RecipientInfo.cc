#include "cmd/kav/email/RecipientInfo.h"

RecipientInfo::RecipientInfo()
    : RecipientInfo(" ", " ", " ", true, " ")
{
}

RecipientInfo::RecipientInfo(const std::string& templateName, const std::string& sender, const std::string& recipients,
    bool includeEvent, const std::string& scriptName)
    : templateName(templateName)
    , sender(sender)
    , recipients(recipients)
    , includeEvent(includeEvent)
    , scriptName(scriptName)
{
}

void RecipientInfo::splitRecipient(std::string& templateName, std::string& sender, std::string& recipients,
    bool& includeEvent, std::string& scriptName) const
{
    templateName = this->templateName;
    sender = this->sender;
    recipients = this->recipients;
    includeEvent = this->includeEvent;
    scriptName = this->scriptName;
}
