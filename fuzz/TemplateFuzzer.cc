// The template editor over arbitrary template contents, with the tag values
// of one fixed event. No tag may survive the editing (the event's values
// hold no tag text), the subject must be one header line, the edited body
// must be written, and it may grow past the template's own lines only up to
// the editor's bound.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cmd/kav/email/EditTemplate.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/SampleEvent.h"
#include "cmd/kav/email/TagReplacement.h"

namespace {

struct TagLists {
    std::vector<std::string> tags;
    std::vector<std::string> values;
};

const TagLists& sampleTags()
{
    static const TagLists lists = [] {
        TagLists made;
        std::unique_ptr<DXAEvent> event = SampleEvent::make();
        if (!event || TagReplacement().getTags(*event, made.tags, made.values) != 0)
            fuzzFailure("the sample event does not give its tags");
        return made;
    }();
    return lists;
}

void checkNoTagLeft(const std::string& text, const char* where)
{
    for (const std::string& tag : sampleTags().tags) {
        if (text.find(tag) != std::string::npos)
            fuzzFailure(std::string("tag ") + tag + " left in the " + where);
    }
}

void checkSubject(const std::string& subject)
{
    if (subject.empty())
        return;
    if (subject.rfind("Subject:", 0) != 0 || subject.back() != '\n'
        || subject.find_first_of("\r\n") != subject.size() - 1)
        fuzzFailure("the subject is not one header line: <" + subject + ">");
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzScratch& scratch = FuzzScratch::instance();
    const std::string templatePath = scratch.write("template.tpl", data, size);
    const std::string outputPath = scratch.path("edited");
    unlink(outputPath.c_str());

    EditTemplate editor;
    editor.processTags(sampleTags().tags, sampleTags().values, templatePath, outputPath);
    std::string edited;
    if (!FuzzScratch::read(outputPath, edited))
        fuzzFailure("the edited template was not written");
    unlink(outputPath.c_str());
    // The kept lines and their line breaks come to at most twice the input.
    if (static_cast<long long>(edited.size())
        > std::max<long long>(2 * static_cast<long long>(size) + 1, EditTemplate::EDITED_LIMIT))
        fuzzFailure("the edited template grew past its bound: " + std::to_string(edited.size()));
    checkNoTagLeft(edited, "body");
    checkNoTagLeft(editor.getSubject(), "subject");
    checkSubject(editor.getSubject());
    return 0;
}
