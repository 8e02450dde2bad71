#include "runtime/ini_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/board_root.h"
#include "tests/support/case_name.h"

namespace {

// The model in one line: every subsection as "[name]@line", followed by its
// keys' occurrences as " key=value@line"; subsections joined by " | ".
std::string summary(const IniFile::File& file) {
    std::ostringstream os;
    const char* separator = "";
    for (const IniFile::Section& section : file) {
        for (const IniFile::SubSection& sub : section) {
            os << separator << '[' << section.name() << "]@" << sub.LineNo();
            separator = " | ";
            for (const IniFile::Key& key : sub)
                for (const IniFile::SubKey& subKey : key)
                    os << ' ' << key.name() << '=' << subKey.mValue << '@' << subKey.mLineNo;
        }
    }
    return os.str();
}

std::string parse(const std::string& text) {
    std::istringstream in(text);
    IniFile::File file;
    in >> file;
    EXPECT_TRUE(file.IsOpen());
    return summary(file);
}

struct GrammarCase {
    const char* what;
    const char* text;
    const char* model;
};

const GrammarCase kGrammar[] = {
    {"empty file", "", ""},
    {"comments only", "# one\n  # two\n", ""},
    {"keys before the first header are ignored", "k = v\n[a]\n", "[a]@2"},
    {"header is verbatim", "[a b]\nk=v\n", "[a b]@1 k=v@2"},
    {"empty header name", "[]\nk=v\n", "[]@1 k=v@2"},
    {"unterminated header ignores keys until the next header", "[x\nk=v\n[y]\nk=w\n",
     "[y]@3 k=w@4"},
    {"header after text before the first header", "junk [a]\nk=v\n", "[a]@1 k=v@2"},
    {"commented header", "#[a]\nk=v\n", ""},
    {"rest of the header line is ignored", "[a] junk # note\nk=v\n", "[a]@1 k=v@2"},
    {"spaces around key and value dropped", "[a]\n  key   =   value  \n", "[a]@1 key=value@2"},
    {"inner spaces kept", "[a]\ninner  key = some   value\n", "[a]@1 inner  key=some   value@2"},
    {"last line without line feed", "[a]\nkey = value", "[a]@1 key=value@2"},
    {"last line with empty value", "[a]\nkey =", "[a]@1 key=@2"},
    {"CRLF endings", "[a]\r\nk = v\r\n\r\nj = w\r\n", "[a]@1 k=v@2 j=w@4"},
    {"repeated key keeps both", "[a]\n\nk = x\n\nk = y\n", "[a]@1 k=x@3 k=y@5"},
    {"line without = is dropped", "[a]\njunk\n[next]\n", "[a]@1 | [next]@3"},
    {"tab before = belongs to the key", "[a]\nk\t= v\n", "[a]@1 k\t=v@2"},
    {"tabs at line start skipped", "[a]\n\t\tk = v\n", "[a]@1 k=v@2"},
    {"# inside a value", "[a]\na=b#c\n", "[a]@1 a=b#c@2"},
    {"space # ends a value", "[a]\na=b #c\n", "[a]@1 a=b@2"},
    {"comment right after =", "[a]\na = # note\n", "[a]@1 a=@2"},
    {"# and [ are key text", "[a]\nk#[x = 1\n", "[a]@1 k#[x=1@2"},
    {"second = is value text", "[a]\nk==v\n", "[a]@1 k==v@2"},
    {"line starting with = has no key", "[a]\n=v\n", "[a]@1"},
    {"value in brackets", "[a]\nk = [v]\n", "[a]@1 k=[v]@2"},
    {"comment line inside a section", "[a]\n# k = v\nj = w\n", "[a]@1 j=w@3"},
    {"key below the nearest header", "[a]\nk=1\n[b]\nk=2\n", "[a]@1 k=1@2 | [b]@3 k=2@4"},
    {"header inside a key line is key text", "[a]\nk[b]=1\n", "[a]@1 k[b]=1@2"},
    {"names are case-sensitive", "[a]\nK=1\nk=2\n", "[a]@1 K=1@2 k=2@3"},
};

class Grammar : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(Grammar, BuildsTheModel) {
    EXPECT_EQ(GetParam().model, parse(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(IniFile, Grammar, ::testing::ValuesIn(kGrammar), test::CaseName());

TEST(IniFile, RepeatedHeaderGivesOneSectionWithTwoSubSections) {
    std::istringstream in("[a]\nk = x\n[b]\n[a]\nk = y\nk = z\n");
    IniFile::File file;
    in >> file;
    EXPECT_EQ(2, file.SectionCount());
    IniFile::Section& a = file["a"];
    ASSERT_EQ(2, a.SubSectionCount());
    EXPECT_EQ(1, a.First()->LineNo());
    EXPECT_EQ(4, a.Last()->LineNo());
    IniFile::Key& k = (*a.Last())["k"];
    ASSERT_EQ(2, k.SubKeyCount());
    EXPECT_EQ("y", k.First()->mValue);
    EXPECT_EQ(6, k.Last()->mLineNo);
}

TEST(IniFile, LookupsCreateEmptyEntries) {
    IniFile::File file;
    IniFile::Section& absent = file["nothing"];
    EXPECT_EQ(1, file.SectionCount());
    EXPECT_EQ(0, absent.SubSectionCount());
    absent.CheckEmpty();
    ASSERT_EQ(1, absent.SubSectionCount());
    IniFile::SubSection& placeholder = *absent.First();
    EXPECT_EQ(-1, placeholder.LineNo());

    IniFile::Key& key = placeholder["missing"];
    EXPECT_EQ(0, key.SubKeyCount());
    EXPECT_EQ(1, placeholder.KeyCount());
    EXPECT_EQ(&key, &placeholder["missing"]);
    key.CheckEmpty();
    key.CheckEmpty();
    ASSERT_EQ(1, key.SubKeyCount());
    EXPECT_EQ("", key.First()->mValue);
    EXPECT_EQ(-1, key.First()->mLineNo);
}

TEST(IniFile, IteratorsWalkInFileOrder) {
    std::istringstream in("[s]\nk = 1\nk = 2\nk = 3\n");
    IniFile::File file;
    in >> file;
    IniFile::Key& k = (*file["s"].First())["k"];
    IniFile::GenericIterator<IniFile::SubKey> it = k.begin();
    IniFile::GenericIterator<IniFile::SubKey> old = it++;
    EXPECT_EQ("1", old->mValue);
    EXPECT_EQ("2", (*it).mValue);
    ++it;
    ++it;
    EXPECT_FALSE(it != k.end());
    ++it;  // a null iterator stays null
    EXPECT_FALSE(it != k.end());
}

TEST(IniFile, DumpShowsEveryLevel) {
    std::istringstream in("[s]\nk = v\n");
    IniFile::File file;
    in >> file;
    (*file["s"].First())["absent"];
    std::ostringstream out;
    file.Dump(out);
    EXPECT_EQ(
        "dumping IniFile::File\nmFileName=\"\"\n\nmSectionCount=1\n"
        "dumping IniFile::Section\nmName=\"s\"\nmSubSectionCount=1\n"
        "dumping IniFile::SubSection\nmLineNo=\"1\"\nmKeyCount=2\n"
        "dumping IniFile::Key\nmName=\"k\"\nmSubKeyCount=1\n"
        "dumping IniFile::SubKey\nmValue=\"v\"\nmLineNo=2\n"
        "dumping IniFile::Key\nmName=\"absent\"\nmSubKeyCount=0\n",
        out.str());
}

TEST(IniFile, OpenReadsAFileAndReplacesThePreviousModel) {
    test::BoardRoot board;
    board.write_file("/usr/local/etc/server.conf", "[traces]\nsignalling.hdlc = yes\n");
    board.write_file("/usr/local/etc/other.conf", "[other]\n");
    IniFile::File file(board.dir() + "/usr/local/etc/server.conf");
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ("[traces]@1 signalling.hdlc=yes@2", summary(file));

    EXPECT_TRUE(file.Open(board.dir() + "/usr/local/etc/other.conf"));
    EXPECT_EQ("[other]@1", summary(file));
    EXPECT_EQ(board.dir() + "/usr/local/etc/other.conf", file.FileName());

    EXPECT_FALSE(file.Open(board.dir() + "/usr/local/etc/absent.conf"));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(0, file.SectionCount());
}

TEST(IniFile, StreamExtractionReplacesTheModel) {
    IniFile::File file;
    std::istringstream first("[a]\n"), second("[b]\n");
    first >> file;
    second >> file;
    EXPECT_EQ("[b]@1", summary(file));
    EXPECT_EQ("", file.FileName());
}

TEST(IniFileSubKey, TypedValues) {
    IniFile::SubKey v("abc", 1);
    EXPECT_EQ(7, v.GetInt(7));
    EXPECT_TRUE(v.GetBool(true));
    v.mValue = "12abc";
    EXPECT_EQ(12, v.GetInt(7));
    v.mValue = "TRUE";
    EXPECT_TRUE(v.GetBool(true));
    EXPECT_FALSE(v.GetBool(false));
    for (const char* word : {"true", "yes", "1", "on"}) {
        v.mValue = word;
        EXPECT_TRUE(v.GetBool(false)) << word;
    }
    for (const char* word : {"false", "no", "0", "off"}) {
        v.mValue = word;
        EXPECT_FALSE(v.GetBool(true)) << word;
    }
    v.mValue = "2.5x";
    EXPECT_FLOAT_EQ(2.5f, v.GetFloat(1.0f));
    v.mValue = "x";
    EXPECT_FLOAT_EQ(1.0f, v.GetFloat(1.0f));
}

TEST(IniFileSubKey, SettersStoreText) {
    IniFile::SubKey v("", 1);
    v.SetBool(true);
    EXPECT_EQ("yes", v.mValue);
    v.SetBool(false);
    EXPECT_EQ("no", v.mValue);
    v.SetInt(-42);
    EXPECT_EQ("-42", v.mValue);
    v.SetFloat(0.25f);
    EXPECT_EQ("0.25", v.mValue);
}

}  // namespace
