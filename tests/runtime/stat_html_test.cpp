#include "runtime/stat_html.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

#include "tests/support/case_name.h"

namespace {

// An in-memory statistics object: values, children and lists of children.
struct Node : Stat::Object {
    std::map<std::string, std::string> values;
    std::map<std::string, const Node*> children;
    std::map<std::string, std::vector<const Node*>> lists;

    Stat::Value statistics_value(const std::string& name) const override {
        auto it = values.find(name);
        return it == values.end() ? Stat::Value() : Stat::Value(it->second);
    }
    const Stat::Object* statistics_object(const std::string& name) const override {
        auto it = children.find(name);
        return it == children.end() ? nullptr : it->second;
    }
    std::unique_ptr<Stat::IteratorBase> statistics_iterator(
        const std::string& name) const override {
        auto it = lists.find(name);
        if (it == lists.end()) return nullptr;
        return std::make_unique<Iterator>(it->second);
    }

    class Iterator : public Stat::IteratorBase {
    public:
        explicit Iterator(const std::vector<const Node*>& nodes) : nodes_(nodes) {}
        bool valid() const override { return pos_ < nodes_.size(); }
        bool next() override { return ++pos_ < nodes_.size(); }
        const Stat::Object& current() const override { return *nodes_[pos_]; }

    private:
        const std::vector<const Node*>& nodes_;
        size_t pos_ = 0;
    };
};

// root {title, name; board {name, serial}; rows [n=1, n=2 name=second, n=3];
// empty []; trunks [t=A channels [c=1, c=2], t=B channels [c=3]]}
class Tree {
public:
    Tree() {
        root.values = {{"title", "Stats"}, {"name", "root"}};
        board.values = {{"name", "board1"}, {"serial", "42"}};
        root.children["board"] = &board;
        for (int i = 0; i < 3; ++i) rows[i].values["n"] = std::to_string(i + 1);
        rows[1].values["name"] = "second";
        root.lists["rows"] = {&rows[0], &rows[1], &rows[2]};
        root.lists["empty"] = {};
        trunks[0].values["t"] = "A";
        trunks[1].values["t"] = "B";
        for (int i = 0; i < 3; ++i) channels[i].values["c"] = std::to_string(i + 1);
        trunks[0].lists["channels"] = {&channels[0], &channels[1]};
        trunks[1].lists["channels"] = {&channels[2]};
        root.lists["trunks"] = {&trunks[0], &trunks[1]};
    }

    std::string render(const std::string& text) const {
        std::istringstream in(text);
        std::ostringstream out;
        EXPECT_EQ(1, Stat::Html::generateV1(root, out, in));
        return out.str();
    }

private:
    Node root, board, rows[3], trunks[2], channels[3];
};

struct TemplateCase {
    const char* what;
    const char* text;
    const char* html;
};

const TemplateCase kTemplates[] = {
    {"text without markers", "<!DOCTYPE html>\n<p class=x>a &amp; b</p>\n",
     "<!DOCTYPE html>\n<p class=x>a &amp; b</p>\n"},
    {"value of the root", "<h1>%title%</h1>", "<h1>Stats</h1>"},
    {"unknown value copied", "a %missing% b", "a %missing% b"},
    {"double percent copied", "100%% sure %%", "100%% sure %%"},
    {"percent inside a tag is text", "<td width=\"50%\">%title%</td>",
     "<td width=\"50%\">Stats</td>"},
    {"ordinary comment copied", "<!-- %title% --><!--GENERAL-->%title%",
     "<!-- %title% --><!--GENERAL-->Stats"},
    {"child object", "<!--GEN.board-->%name%/%serial%/%title%<!--GEN.end-->|%name%",
     "board1/42/Stats|root"},
    {"list rendered once per element", "<ul><!--GEN.rows--><li>%n% %name%</li><!--GEN.end--></ul>",
     "<ul><li>1 root</li><li>2 second</li><li>3 root</li></ul>"},
    {"empty list writes nothing", "a<!--GEN.empty-->x%title%<!--GEN.end-->b", "ab"},
    {"unknown section writes nothing",
     "a<!--GEN.nothing-->%title%<!--GEN.rows-->%n%"
     "<!--GEN.end--><!--GEN.end-->b",
     "ab"},
    {"nested lists",
     "<!--GEN.trunks-->%t%:<!--GEN.channels-->%c%%t%,<!--GEN.end-->;"
     "<!--GEN.end-->",
     "A:1A,2A,;B:3B,;"},
    {"end at the top level stops", "a<!--GEN.end-->b %title%", "a"},
    {"hyphen inside a section name", "<!--GEN.no-such-->x<!--GEN.end-->y", "y"},
    {"text after the closing hyphens", "<!--GEN.board-- note >%serial%<!--GEN.end-- x>", "42"},
    {"empty tag ends at once", "<>%title%", "<>Stats"},
    {"marker cut off at the end is dropped", "abc%def", "abc"},
};

class Template : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(Template, Renders) {
    Tree tree;
    EXPECT_EQ(GetParam().html, tree.render(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(StatHtml, Template, ::testing::ValuesIn(kTemplates), test::CaseName());

}  // namespace
