#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>

#include "cmd/kav/email/EditTemplate.h"
#include "tests/email/LogCapture.h"
#include "tests/support/TempDir.h"

using orv::email::InputFile;
using orv::io::FdGuard;

namespace {

// The subject and the edited file of `text` filled with these tags.
std::pair<std::string, std::string> fill(
    const std::string& text, const std::vector<std::string>& values = { "X-42", "a\nb\n" })
{
    TempDir dir;
    EditTemplate editor;
    editor.processTags({ "<EVENT_CODE>", "<LIST>" }, values, dir.write("tpl", text), dir.path("out"));
    // Reports mail the text kept in memory instead of reading the file back.
    std::string file = TempDir::read(dir.path("out"));
    EXPECT_EQ(editor.takeEditedText(), file);
    return { editor.getSubject(), file };
}

using Mail = std::pair<std::string, std::string>;

}

TEST(EditTemplate, SubjectComesFromFirstKeptLine)
{
    EXPECT_EQ(fill("# <EVENT_CODE>\n\n \t\nSubject: c <EVENT_CODE>\nplain\n"),
        Mail("Subject: c X-42\n", "Subject: c X-42\nplain\n"));
    EXPECT_EQ(fill("hello world\n"), Mail("Subject: hello world\n", "hello world\n"));
    // "   #" is no comment and a blank before "Subject:" is no subject line.
    EXPECT_EQ(fill(" Subject: x\n   # kept\n"), Mail("Subject:  Subject: x\n", " Subject: x\n   # kept\n"));
    EXPECT_EQ(fill("# only a comment\n"), Mail("", ""));
    EXPECT_EQ(fill("", {}), Mail("", ""));
}

TEST(EditTemplate, ReplacesKnownTagsOnly)
{
    EXPECT_EQ(fill("s\n<EVENT_CODE>/<EVENT_CODE> <EVENT_SPECIAL> <NO_TAG>\n<LIST>\nend").second,
        "s\nX-42/X-42 <EVENT_SPECIAL> <NO_TAG>\na\nb\n\nend\n");
    EXPECT_EQ(fill("s <EVENT_CODE>\n", { "X-42" }), Mail("Subject: s <EVENT_CODE>\n", "s <EVENT_CODE>\n"));
    // Line breaks from a value must not end the subject header early.
    EXPECT_EQ(fill("Subject: <LIST>\r\nbody <LIST>\n"), Mail("Subject: a b  \n", "Subject: a\nb\n\r\nbody a\nb\n\n"));
}

TEST(EditTemplate, FileLimitsAndFailures)
{
    const std::string fits(249, 'f');
    EXPECT_EQ(fill("first\n" + fits + "\n" + std::string(250, 'x') + "\nafter\n").second, "first\n" + fits + "\n");

    TempDir dir;
    EditTemplate missing;
    missing.processTags({}, {}, dir.path("absent"), dir.path("out"));
    EXPECT_EQ(missing.getSubject(), "");
    struct stat info { };
    ASSERT_EQ(stat(dir.path("out").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(info.st_mode & 0777, 0400u);
    EXPECT_EQ(missing.writeLines(dir.path("no/such/dir")), -1);
}

TEST(EditTemplate, ValuesHoldingTagsCannotMakeItExplode)
{
    // Every "<LIST>" in the code's value would take the 30,000-byte list:
    // 600 MB unbounded, and minutes when each match restarts the search.
    std::string code;
    for (int i = 0; i < 20000; ++i)
        code += "<LIST>";
    LogCapture log;
    const auto began = std::chrono::steady_clock::now();
    const Mail mail = fill("Subject: <EVENT_CODE>\n<EVENT_CODE>\nend\n", { code, std::string(30000, 'v') });
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
    EXPECT_LE(mail.second.size(), static_cast<size_t>(EditTemplate::EDITED_LIMIT));
    EXPECT_GT(mail.second.size(), static_cast<size_t>(EditTemplate::EDITED_LIMIT) - 30000);
    // Growth stops; the rest goes on as written, unfilled tags and all.
    EXPECT_TRUE(mail.second.ends_with("<LIST>\n<EVENT_CODE>\nend\n"));
    EXPECT_LE(mail.first.size(), static_cast<size_t>(EditTemplate::EDITED_LIMIT) + 1);
    EXPECT_NE(log.trace().find("edited template reached its limit of 1048576 bytes"), std::string::npos);
}

TEST(EditTemplate, ReadsATemplateOpenedBefore)
{
    TempDir dir;
    const std::string tpl = dir.write("tpl", "Subject: s <EVENT_CODE>\n# note\nbody <EVENT_CODE>\n");
    InputFile file(FdGuard(open(tpl.c_str(), O_RDONLY | O_CLOEXEC)));
    EditTemplate editor;
    EXPECT_EQ(editor.processTagValues({ "<EVENT_CODE>" }, { { "X-42" } }, file, dir.path("out")), 0);
    EXPECT_EQ(editor.getSubject(), "Subject: s X-42\n");
    EXPECT_EQ(TempDir::read(dir.path("out")), "Subject: s X-42\nbody X-42\n");
    InputFile closed { FdGuard() };
    EXPECT_FALSE(closed.is_open());
    EXPECT_FALSE(closed.good());
}
