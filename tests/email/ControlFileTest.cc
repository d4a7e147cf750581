#include <gtest/gtest.h>

#include "tests/email/LogCapture.h"
#include "cmd/kav/email/MailRecipient.h"
#include "tests/support/TempDir.h"

namespace {

using Names = std::vector<std::string>;
const Names cpuFault = { "fault.cpu.core.ce", "fault.mem.dimm" };

// "template|sender|recipients|Y or N|script"
std::string describe(const RecipientInfo& info)
{
    std::string name, sender, recipients, script;
    bool include = false;
    info.splitRecipient(name, sender, recipients, include, script);
    return name + "|" + sender + "|" + recipients + "|" + (include ? "Y" : "N") + "|" + script;
}

// The template names of the entries selected from `ecf`, in order.
Names select(const std::string& ecf, const Names& classes = cpuFault, const std::string& domains = "AC")
{
    TempDir dir;
    MailRecipient reader;
    EXPECT_EQ(reader.openECF(dir.write("event_email.cf", ecf)), 0);
    Names names;
    for (int i = 0, n = reader.processECF(classes, domains); i < n; ++i) {
        std::string info = describe(reader.getRecipientInfo(i));
        names.push_back(info.substr(0, info.find('|')));
    }
    return names;
}

std::string entry(const std::string& name, const std::string& classPattern = "cpu", const std::string& domain = "A")
{
    return classPattern + " " + domain + " " + name + " ops@site y ops@site mail.sh\n";
}

int count(const std::string& text, const std::string& needle)
{
    int found = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++found;
    return found;
}

}

TEST(MailRecipient, SelectsByClassAndDomain)
{
    EXPECT_EQ(select(""), Names {});
    EXPECT_EQ(select("# c\n\n \t \n"), Names {});
    EXPECT_EQ(select(entry("word") + entry("exact", "^cpu$") + entry("whole", "^fault.mem.dimm$")),
        (Names { "word", "whole" }));
    EXPECT_EQ(select(entry("none"), {}), Names {});
    EXPECT_EQ(select(entry("c", "cpu", "C") + entry("b", "cpu", "B") + entry("2", "mem", "C|A") + entry("2", "mem")),
        (Names { "c", "2", "2" }));
    EXPECT_EQ(select(entry("letter") + entry("empty", "cpu", "^$"), cpuFault, ""), Names { "empty" });
}

TEST(MailRecipient, EntryFieldsAndDefaults)
{
    TempDir dir;
    MailRecipient reader;
    EXPECT_EQ(describe(reader.getRecipientInfo(0)), " | | |Y| ");
    ASSERT_EQ(reader.openECF(dir.write("ecf", "\tcpu  A\ttpl me@x N a@x,b@x\r\vs.sh \ncpu A t f y r s")), 0);
    ASSERT_EQ(reader.processECF(cpuFault, "A"), 2);
    EXPECT_EQ(describe(reader.getRecipientInfo(0)), "tpl|me@x|a@x,b@x|N|s.sh");
    EXPECT_EQ(describe(reader.getRecipientInfo(1)), "t|f|r|Y|s");
    EXPECT_EQ(describe(reader.getRecipientInfo(-1)), " | | |Y| ");
    EXPECT_EQ(describe(reader.getRecipientInfo(2)), " | | |Y| ");
}

TEST(MailRecipient, StoppingLinesKeepEarlierEntries)
{
    std::string exact = entry("fits");
    exact.pop_back();
    exact.resize(247, ' ');
    EXPECT_EQ(select(exact + "\n" + exact + " "), (Names { "fits", "fits" }));

    LogCapture log;
    EXPECT_EQ(select(entry("before") + exact + " \n" + entry("after")), Names { "before" });
    EXPECT_NE(log.trace().find("Line exceeds 249 characters in ECF file"), std::string::npos);
    EXPECT_NE(log.platform().find("KAV_LINE_TOO_LONG: A line of 249 or more"), std::string::npos);

    LogCapture ascii;
    EXPECT_EQ(select(entry("before") + "# caf\xc3\xa9\n" + entry("after")), Names { "before" });
    EXPECT_NE(ascii.trace().find("Non ascii characters  in ECF file"), std::string::npos);
    EXPECT_NE(ascii.trace().find("ECF path is /"), std::string::npos);
    EXPECT_EQ(count(ascii.platform(), "KAV_"), count(ascii.platform(), "KAV_BAD_ECF_FILE"));
    EXPECT_EQ(count(ascii.platform(), "KAV_BAD_ECF_FILE"), 1);
}

TEST(MailRecipient, BadLinesAreReportedAndSkipped)
{
    LogCapture log;
    EXPECT_EQ(select("   # word\n\r\n" + entry("ok")), Names { "ok" });
    EXPECT_EQ(count(log.trace(), "Bad line in ECF file \n"), 2);
    EXPECT_NE(log.trace().find("Line reads<   # word>"), std::string::npos);
    EXPECT_NE(log.platform().find("KAV_ECF_BAD_LINE: Bad line \"\\r\""), std::string::npos);

    LogCapture spilled;
    EXPECT_EQ(select("cpu A t f y a@x b@y s.sh\n"), Names {});
    EXPECT_NE(spilled.trace().find("Too many fields"), std::string::npos);
    EXPECT_NE(spilled.platform().find("KAV_ECF_BAD_LINE"), std::string::npos);
    EXPECT_NE(spilled.platform().find("KAV_BAD_EMAILRECIPIENTS: Rejected email recipient b@y."), std::string::npos);
    EXPECT_EQ(spilled.platform().find("KAV_ECF_TOO_MANY_FIELDS"), std::string::npos);

    LogCapture surplus;
    EXPECT_EQ(select("cpu A t f y a@x s.sh extra\n"), Names {});
    EXPECT_NE(surplus.platform().find("KAV_ECF_TOO_MANY_FIELDS"), std::string::npos);
    EXPECT_EQ(surplus.platform().find("KAV_BAD_EMAILRECIPIENTS"), std::string::npos);
}

TEST(MailRecipient, BadFieldsReportedOnlyWhereTheyMatter)
{
    LogCapture log;
    EXPECT_EQ(select(entry("a", "(") + entry("b", "nomatch", "[") + entry("c", "cpu", "B[") + "cpu B t f yes r s\n"
                  + "cpu A t f yes r s\n"),
        Names {});
    EXPECT_NE(log.trace().find("Bad message class regular expresion <(> in ECF file"), std::string::npos);
    EXPECT_EQ(log.trace().find("Bad domain expresion <[>"), std::string::npos);
    EXPECT_NE(log.trace().find("Bad domain expresion <B[> in ECF file"), std::string::npos);
    EXPECT_EQ(count(log.trace(), "Bad Include-event? field expression <yes> in ECF file"), 1);
    EXPECT_EQ(count(log.trace(), "Line reads<"), 3);
    EXPECT_EQ(log.platform(), "");

    TempDir dir;
    LogCapture missing;
    MailRecipient reader;
    EXPECT_EQ(reader.openECF(dir.path("absent.cf")), -1);
    EXPECT_NE(missing.trace().find("MailRecipient::openECF can't open file"), std::string::npos);
    EXPECT_NE(missing.trace().find("ECF path is " + dir.path("absent.cf")), std::string::npos);
    EXPECT_EQ(reader.processECF(cpuFault, "A"), 0);
}

TEST(MailRecipient, CostlyPatternsAreBadPatterns)
{
    // Too costly to compile, or a back-reference: a bad pattern like any
    // other, and the lines after it are still read.
    LogCapture costly;
    EXPECT_EQ(select(entry("a", "((c{,30}){,30}){,30}") + entry("b", "(c)\\1") + entry("c")), Names { "c" });
    EXPECT_NE(costly.trace().find("Bad message class regular expresion <((c{,30}){,30}){,30}>"), std::string::npos);
    EXPECT_NE(costly.trace().find("Bad message class regular expresion <(c)\\1>"), std::string::npos);
}

TEST(MailRecipient, EveryReportReadsTheFileAnewAndLogsItsBadPatterns)
{
    // Patterns are compiled once for all reports; what a report selects
    // and logs must still follow the file as it is now.
    TempDir dir;
    auto process = [&dir](const std::string& ecf) {
        MailRecipient reader;
        EXPECT_EQ(reader.openECF(dir.write("event_email.cf", ecf)), 0);
        Names names;
        for (int i = 0, n = reader.processECF(cpuFault, "A"); i < n; ++i) {
            std::string info = describe(reader.getRecipientInfo(i));
            names.push_back(info.substr(0, info.find('|')));
        }
        return names;
    };
    LogCapture log;
    const std::string first = entry("bad", "(") + entry("cpu") + entry("mem", "mem", "B");
    EXPECT_EQ(process(first), Names { "cpu" });
    EXPECT_EQ(process(first), Names { "cpu" });
    EXPECT_EQ(count(log.trace(), "Bad message class regular expresion <(> in ECF file"), 2);
    EXPECT_EQ(process(entry("mem", "mem", "A") + entry("cpu", "cpu", "B")), Names { "mem" });
    EXPECT_EQ(count(log.trace(), "Bad message class regular expresion <(> in ECF file"), 2);
}
