#include "runtime/ext_output.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace {

TEST(Table, DelimiterAndCentredCells) {
    std::ostringstream os;
    ext::Table t(4, 6);
    t.delimeter(os);
    t.row(os, "ab");
    t.row(os, "xyz");
    EXPECT_EQ("+----+------+\n| ab | xyz  |\n", os.str());
}

TEST(Table, OddPadGoesRightAndLongTextIsWrittenWhole) {
    std::ostringstream os;
    ext::Table t(5, 2);
    t.row(os, "ab");
    t.row(os, "long");
    EXPECT_EQ("| ab  |long|\n", os.str());
}

TEST(Table, StartedRowIsCompletedBeforeTheDelimiter) {
    std::ostringstream os;
    ext::Table t(3, 3);
    t.row(os, "a");
    t.delimeter(os);
    EXPECT_EQ("| a |   |\n+---+---+\n", os.str());
}

TEST(Table, CellsBeyondTheLastColumnAreDropped) {
    std::ostringstream os;
    ext::Table t(1);
    t.row(os, "a");
    t.row(os, "b");
    EXPECT_EQ("|a|\n", os.str());
}

TEST(Table, TableWithoutColumnsDrawsNothing) {
    std::ostringstream os;
    ext::Table t;
    t.delimeter(os);
    t.gap(os);
    EXPECT_EQ("", os.str());
}

TEST(Table, SentryCollectsCellsAndFinalizesOnDestruction) {
    std::ostringstream os;
    ext::Table t(6, 4, 4);
    {
        ext::Table::Sentry s(os, t);
        s << ext::delimeter << "name" << ext::nextrow << 42u << ext::nextrow;
    }
    EXPECT_EQ("+------+----+----+\n| name | 42 |    |\n", os.str());
}

TEST(Table, SentryWritesNegativeIntAsUnsignedInHex) {
    std::ostringstream os;
    os << std::hex << std::uppercase;
    ext::Table t(10);
    ext::Table::Sentry s(os, t);
    s << -1 << ext::nextrow;
    EXPECT_EQ("| FFFFFFFF |\n", os.str());
}

TEST(Table, BeginrowResetsToTheFirstColumn) {
    std::ostringstream os;
    ext::Table t(1, 1);
    ext::Table::Sentry s(os, t);
    s << "a" << ext::nextrow << ext::beginrow << "b" << ext::nextrow << "c" << ext::nextrow;
    EXPECT_EQ("|a|b|c|\n", os.str());
}

TEST(Hex, BufferIsUppercasePairsAndStreamStateIsRestored) {
    std::ostringstream os;
    os.fill('*');
    const unsigned char bytes[] = {0x0A, 0xFF};
    os << ext::OutBufInHex(bytes, bytes + 2) << 10;
    EXPECT_EQ("0A FF 10", os.str());
    EXPECT_EQ(' ', os.fill());
    EXPECT_FALSE(os.flags() & std::ios_base::uppercase);
}

TEST(Hex, EmptyBufferWritesNothing) {
    std::ostringstream os;
    const unsigned char b = 1;
    os << ext::OutBufInHex(&b, &b);
    EXPECT_EQ("", os.str());
}

TEST(Hex, UnsignedWithAndWithoutWidth) {
    std::ostringstream os;
    os << ext::OutUnsignedInHex(255, 4) << ' ' << ext::OutUnsignedInHex(255, 0) << ' ' << 255;
    EXPECT_EQ("0x00FF 0xFF 255", os.str());
}

struct Named {
    void PutHeader(std::ostream& os) const { os << "named: "; }
};

TEST(HeaderAndQuoted, WriteTheObjectsOwnPrefixAndQuotes) {
    std::ostringstream os;
    Named n;
    const char* text = "abc";
    os << ext::header(&n) << ext::quoted(text);
    EXPECT_EQ("named: \"abc\"", os.str());
}

}  // namespace
