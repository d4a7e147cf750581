// The email control file reader over arbitrary file contents, for an event
// of two fault classes affecting domains A and C. Every entry it selects
// must come from the file, field by field, and be a well-formed entry; a
// lookup past them yields the default entry.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzScratch.h"
#include "cmd/kav/email/MailRecipient.h"
#include "cmd/kav/email/RecipientInfo.h"

namespace {

const std::vector<std::string> faultClasses { "fault.cpu.ecache", "fault.io.x" };
const std::string domains = "AC";

bool wellFormedField(const std::string& field, const std::string& file)
{
    return !field.empty() && field.find_first_of(" \t\r\n\v\f") == std::string::npos
        && file.find(field) != std::string::npos;
}

void checkEntry(const RecipientInfo& info, const std::string& file)
{
    std::string templateName, sender, recipients, scriptName;
    bool includeEvent = false;
    info.splitRecipient(templateName, sender, recipients, includeEvent, scriptName);
    for (const std::string* field : { &templateName, &sender, &recipients, &scriptName }) {
        if (!wellFormedField(*field, file))
            fuzzFailure("selected entry with field <" + *field + "> not taken from the file");
    }
}

void checkDefault(const RecipientInfo& info)
{
    std::string templateName, sender, recipients, scriptName;
    bool includeEvent = false;
    info.splitRecipient(templateName, sender, recipients, includeEvent, scriptName);
    if (templateName != " " || sender != " " || recipients != " " || scriptName != " " || !includeEvent)
        fuzzFailure("a lookup past the selected entries is not the default entry");
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzScratch::instance().write("event_email.cf", data, size);
    const std::string file(reinterpret_cast<const char*>(data), size);
    MailRecipient reader;
    if (reader.openECF(path) != 0)
        fuzzFailure("cannot open the control file just written");
    const int count = reader.processECF(faultClasses, domains);
    const auto lines = static_cast<size_t>(std::count(file.begin(), file.end(), '\n')) + 1;
    if (count < 0 || static_cast<size_t>(count) > lines)
        fuzzFailure("more entries selected than the file has lines");
    for (int i = 0; i < count; ++i)
        checkEntry(reader.getRecipientInfo(i), file);
    checkDefault(reader.getRecipientInfo(count));
    checkDefault(reader.getRecipientInfo(-1));
    return 0;
}
