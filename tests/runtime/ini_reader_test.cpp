#include "runtime/ini_reader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/case_name.h"

namespace {

enum class Mode { none = 0, ip = 1, serial = 2 };

const IniFile::Symbol<Mode> kModes[] = {{"ip", Mode::ip}, {"serial", Mode::serial}, {nullptr, {}}};

// A component that needs "host" and "mode" and may have "trace" and "level".
struct Component {
    std::string host = "default-host";
    Mode mode = Mode::none;
    bool trace = false;
    int level = -1;
    std::string complaints;
    bool traceParsed = false;

    bool read(const std::string& text) {
        std::istringstream in(text);
        IniFile::File file;
        in >> file;
        std::ostringstream out;
        IniFile::Reader reader("p: ", out);
        reader.required.add(&host, "host");
        reader.required.add(&mode, "mode", kModes);
        bool& traceFlag = reader.optional.add(&trace, "trace");
        reader.optional.add(&level, "level");
        bool ok = reader.parse(*file["s"].First());
        traceParsed = traceFlag;
        complaints = out.str();
        return ok;
    }
};

struct ReaderCase {
    const char* what;
    const char* text;
    bool accepted;
    const char* complaints;
};

const ReaderCase kCases[] = {
    {"all keys valid", "[s]\nhost = h\nmode = serial\ntrace = yes\nlevel = 3\n", true, ""},
    {"undeclared keys ignored", "[s]\nhost = h\nmode = ip\nother = 1\n", true, ""},
    {"required key absent", "[s]\nmode = ip\n", false,
     "p: required key \"host\" not present, line 1\n"},
    {"required key invalid", "[s]\nhost = h\nmode = fast\n", false,
     "p: required key \"mode\" has invalid value=\"fast\", line 3\n"},
    {"required key twice", "[s]\nmode = ip\n\nhost = a\n\n\n\n\nhost = b\n", false,
     "p: required key \"host\" is duplicated!\n"
     "p:  first occurence at 4 line.\n"
     "p:  second occurence at 9 line.\n"},
    {"required key three times", "[s]\nhost=a\nhost=b\nmode=ip\nhost=c\n", false,
     "p: required key \"host\" specified more than once: 2 3 5 lines\n"},
    {"first bad required key ends the parse", "[s]\nmode = fast\ntrace = yes\n", false,
     "p: required key \"host\" not present, line 1\n"},
    {"optional key invalid", "[s]\nhost=h\nmode=ip\ntrace = on\n", true,
     "p: optional key \"trace\" has invalid value=\"on\", line 4. Key will be ignored.\n"},
    {"optional key twice", "[s]\nhost=h\nmode=ip\ntrace=yes\ntrace=no\n", true,
     "p: optional key \"trace\" is duplicated!\n"
     "p:  first occurence at 4 line.\n"
     "p:  second occurence at 5 line. Both keys will be ignored.\n"},
    {"optional key three times", "[s]\ntrace=1\nhost=h\nmode=ip\ntrace=1\n\ntrace=1\n", true,
     "p: optional key \"trace\" specified more than once: 2 5 7 lines. All keys will be "
     "ignored.\n"},
    {"every optional problem is reported", "[s]\nhost=h\nmode=ip\ntrace=on\nlevel=x\n", true,
     "p: optional key \"trace\" has invalid value=\"on\", line 4. Key will be ignored.\n"
     "p: optional key \"level\" has invalid value=\"x\", line 5. Key will be ignored.\n"},
};

class ReaderComplaints : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderComplaints, ReportsInTheComponentsWords) {
    Component c;
    EXPECT_EQ(GetParam().accepted, c.read(GetParam().text));
    EXPECT_EQ(GetParam().complaints, c.complaints);
}

INSTANTIATE_TEST_SUITE_P(IniReader, ReaderComplaints, ::testing::ValuesIn(kCases),
                         test::CaseName());

TEST(IniReader, ValidKeysSetTheirVariables) {
    Component c;
    ASSERT_TRUE(c.read("[s]\nhost = h\nmode = serial\ntrace = enabled\nlevel = 0x10\n"));
    EXPECT_EQ("h", c.host);
    EXPECT_EQ(Mode::serial, c.mode);
    EXPECT_TRUE(c.trace);
    EXPECT_TRUE(c.traceParsed);
    EXPECT_EQ(16, c.level);
}

TEST(IniReader, EmptyStringValueIsValid) {
    Component c;
    ASSERT_TRUE(c.read("[s]\nhost =\nmode = 2\n"));
    EXPECT_EQ("", c.host);
    EXPECT_EQ(Mode::serial, c.mode);
}

TEST(IniReader, BadOrRepeatedOptionalKeysKeepTheDefault) {
    for (const char* text : {"[s]\nhost=h\nmode=ip\ntrace=on\nlevel=12abc\n",
                             "[s]\nhost=h\nmode=ip\ntrace=yes\ntrace=yes\nlevel=\n"}) {
        Component c;
        c.read(text);
        EXPECT_FALSE(c.trace) << text;
        EXPECT_FALSE(c.traceParsed) << text;
        EXPECT_EQ(-1, c.level) << text;
    }
}

TEST(IniReader, RequiredFailureLeavesLaterKeysUnread) {
    Component c;
    EXPECT_FALSE(c.read("[s]\nhost = h\nmode = x\ntrace = yes\n"));
    EXPECT_EQ("h", c.host);
    EXPECT_FALSE(c.trace);
}

TEST(IniReader, SectionWithUndeclaredKeysOnly) {
    IniFile::SubSection sub(1);
    sub.NewSubKey("x", "1", 2);
    bool flag = true;
    std::ostringstream out;
    IniFile::Reader reader("p: ", out);
    reader.optional.add(&flag, "flag");
    EXPECT_TRUE(reader.parse(sub));
    EXPECT_TRUE(flag);
    EXPECT_EQ("", out.str());
}

TEST(IniReader, BooleanWords) {
    struct Word {
        const char* text;
        bool valid;
        bool value;
    };
    const Word words[] = {
        {"true", true, true},   {"false", true, false},   {"yes", true, true},
        {"no", true, false},    {"enabled", true, true},  {"disabled", true, false},
        {"enable", true, true}, {"disable", true, false}, {"1", true, true},
        {"0", true, false},     {"on", false, false},     {"off", false, false},
        {"Yes", false, false},  {"", false, false},       {"true ", false, false},
    };
    for (const Word& w : words) {
        bool value = !w.value;
        IniFile::Private::TKeyValue<bool> kv(&value, "k", nullptr);
        EXPECT_EQ(w.valid, kv.do_parse(w.text)) << '"' << w.text << '"';
        if (w.valid)
            EXPECT_EQ(w.value, value) << w.text;
        else
            EXPECT_EQ(!w.value, value) << w.text;
    }
}

TEST(IniReader, EnumeratedNumbers) {
    Mode mode = Mode::ip;
    IniFile::Private::TKeyValue<Mode> kv(&mode, "mode", kModes);
    EXPECT_TRUE(kv.do_parse("0x10"));
    EXPECT_EQ(16, static_cast<int>(mode));
    EXPECT_TRUE(kv.do_parse("010"));
    EXPECT_EQ(8, static_cast<int>(mode));
    EXPECT_FALSE(kv.do_parse("12abc"));
    EXPECT_FALSE(kv.do_parse(""));
    EXPECT_FALSE(kv.do_parse("IP"));
    EXPECT_EQ(8, static_cast<int>(mode));
    EXPECT_TRUE(kv.do_parse("serial"));
    EXPECT_EQ(Mode::serial, mode);
}

TEST(IniReader, FullWidthUnsignedNumberIsNotClipped) {
    uint32_t mask = 0;
    IniFile::Private::TKeyValue<uint32_t> kv(&mask, "mask", nullptr);
    EXPECT_TRUE(kv.do_parse("0xFFFFFFFF"));
    EXPECT_EQ(0xFFFFFFFFu, mask) << "the board's long is 32 bits";
}

}  // namespace
