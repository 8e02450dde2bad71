// The message types encode byte for byte as an independent aligned-PER coder
// (Erlang's asn1, see vectors/make_vectors.py) encodes the same values, and
// decode its octets back to them.

#include "messages/lgcp.h"
#include "messages/registry.h"
#include "tests/asn1/per_test_util.h"
#include "tests/messages/value_filler.h"
#include "tests/messages/vectors.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace messages_test {
namespace {

TEST(ErlangVectors, EncodeAndDecodeByteForByte) {
    const std::vector<Vector> vectors = read_vectors();
    ASSERT_GT(vectors.size(), 1600u);
    for (const Vector& v : vectors) {
        const ASN1::TypeInfo* info = messages::find_type(v.module.c_str(), v.type.c_str());
        ASSERT_NE(info, nullptr) << v.label();
        auto value = create(info);
        ValueFiller filler(v.seed, v.alternatives());
        ASSERT_TRUE(filler.fill(*value)) << v.label();
        ASSERT_TRUE(filler.pathUsedUp()) << v.label();
        EXPECT_EQ(::Test::perHex(*value), v.hex) << v.label();
        auto decoded = create(info);
        EXPECT_TRUE(::Test::perDecodeHex(v.hex, *decoded)) << v.label();
        EXPECT_EQ(*decoded, *value) << v.label();
    }
}

// Guards against a stale vector file: a filled message per command and
// signal alternative, and a vector per alternative of every CHOICE.
TEST(ErlangVectors, CoverEveryCommandSignalAndAlternative) {
    std::set<std::string> paths;
    for (const Vector& v : read_vectors()) paths.insert(v.module + "::" + v.type + " " + v.path);
    for (const ASN1::ChoiceInfo* choice : {&LGCP::Command::theInfo, &LGCP::Signal::theInfo}) {
        const std::string pdu = choice == &LGCP::Command::theInfo ? "command/" : "signal/";
        for (unsigned i = 0; i < choice->totalChoices; ++i)
            EXPECT_TRUE(paths.count("LGCP::Message " + pdu + choice->selectionNames[i]))
                << choice->selectionNames[i];
    }
    for (auto it = messages::modules_begin(); it != messages::modules_end(); ++it) {
        for (unsigned i = 0; i < (*it)->count; ++i) {
            const messages::TypeEntry& type = (*it)->types[i];
            const std::string name = std::string((*it)->name) + "::" + type.name;
            if (type.info->create != &ASN1::createValue<ASN1::IA5String>) {
                EXPECT_TRUE(paths.count(name + " -")) << name;
            }
            auto value = create(type.info);
            auto* choice = dynamic_cast<ASN1::CHOICE*>(value.get());
            for (unsigned a = 0; choice && a < choice->totalChoices(); ++a)
                EXPECT_TRUE(paths.count(name + " " + choice->info()->selectionNames[a]))
                    << name << " " << choice->info()->selectionNames[a];
        }
    }
}

}  // namespace
}  // namespace messages_test
