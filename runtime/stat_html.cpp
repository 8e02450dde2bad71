#include "runtime/stat_html.h"

#include <istream>
#include <ostream>

namespace Stat {
namespace Html {

namespace {

// Stands in for a section that has nothing to show: its text is read and
// dropped.
class NoObject : public Object {
public:
    Value statistics_value(const std::string&) const override { return Value(); }
    const Object* statistics_object(const std::string&) const override { return nullptr; }
    std::unique_ptr<IteratorBase> statistics_iterator(const std::string&) const override {
        return nullptr;
    }
};

}  // namespace

GeneratorV1::GeneratorV1(const Object& root, std::ostream& out, std::istream& in)
    : root_(root), out_(out), in_(in), current_(&root) {
    stack_.push_back(&root_);
}

int GeneratorV1::generate() {
    suppressed_ = 0;
    return generate_body();
}

int generateV1(const Object& root, std::ostream& out, std::istream& in) {
    return GeneratorV1(root, out, in).generate();
}

// --- Rendering

int GeneratorV1::generate_body() {
    for (;;) {
        TokenKind kind = parse();
        std::string name = name_;
        if (kind == kEndOfInput) return 1;
        if (kind == kValue) {
            write_value(name);
        } else if (name == "end") {
            return 1;
        } else {
            render_section(name);
        }
    }
}

void GeneratorV1::render_section(const std::string& name) {
    std::unique_ptr<IteratorBase> list = current_->statistics_iterator(name);
    if (list && list->valid()) {
        render_list(*list);
    } else if (list) {
        render_suppressed();
    } else if (const Object* child = current_->statistics_object(name)) {
        render_child(*child);
    } else {
        render_suppressed();
    }
}

void GeneratorV1::render_list(IteratorBase& list) {
    std::streampos start = in_.tellg();
    render_child(list.current());
    if (!list.next()) return;
    while (list.valid()) {
        in_.clear();
        in_.seekg(start);
        render_child(list.current());
        list.next();
    }
}

void GeneratorV1::render_child(const Object& child) {
    stack_.push_back(&child);
    current_ = &child;
    generate_body();
    stack_.pop_back();
    current_ = stack_.back();
}

void GeneratorV1::render_suppressed() {
    static const NoObject nothing;
    ++suppressed_;
    render_child(nothing);
    --suppressed_;
}

void GeneratorV1::write_value(const std::string& name) {
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
        Value value = (*it)->statistics_value(name);
        if (value) {
            write(value.text);
            return;
        }
    }
    write(capture_);
}

void GeneratorV1::write(const std::string& text) {
    if (suppressed_ == 0) out_ << text;
}

// --- Reading tokens

GeneratorV1::TokenKind GeneratorV1::parse() {
    input_ = &GeneratorV1::Initial;
    output_ = &GeneratorV1::Pass;
    kind_ = kEndOfInput;
    name_.clear();
    complete_ = false;
    capture_.clear();
    for (int c = in_.get(); c != std::char_traits<char>::eof(); c = in_.get()) {
        (this->*input_)(char(c));
        (this->*output_)(char(c));
        if (complete_) return kind_;
    }
    name_.clear();  // a marker cut off by the end is dropped
    return kEndOfInput;
}

void GeneratorV1::Pass(char c) {
    if (suppressed_ == 0) out_.put(c);
}

void GeneratorV1::Capture(char c) {
    capture_ += c;
}

void GeneratorV1::EnterCapture() {
    capture_.clear();
    output_ = &GeneratorV1::Capture;
}

void GeneratorV1::Initial(char c) {
    if (c == '<') {
        input_ = &GeneratorV1::TagOpen;
        EnterCapture();
    } else if (c == '%') {
        input_ = &GeneratorV1::ValueOpen;
        EnterCapture();
    }
}

void GeneratorV1::TagOpen(char c) {
    if (c == '!')
        input_ = &GeneratorV1::CommentDash1;
    else
        NotAMarker(c);
}

// The held-back text goes out and the rest of the tag is copied. A tag that
// ends on this very character is over.
void GeneratorV1::NotAMarker(char c) {
    write(capture_);
    input_ = c == '>' ? &GeneratorV1::Initial : &GeneratorV1::TagBody;
    EnterPass();
}

void GeneratorV1::TagBody(char c) {
    if (c == '>') input_ = &GeneratorV1::Initial;
}

void GeneratorV1::Expect(char c, char expected, CharState next) {
    if (c == expected)
        input_ = next;
    else
        NotAMarker(c);
}

void GeneratorV1::CommentDash1(char c) {
    Expect(c, '-', &GeneratorV1::CommentDash2);
}

void GeneratorV1::CommentDash2(char c) {
    Expect(c, '-', &GeneratorV1::ExpectG);
    if (c == '-') {
        name_.clear();
        kind_ = kSection;
    }
}

void GeneratorV1::ExpectG(char c) {
    Expect(c, 'G', &GeneratorV1::ExpectE);
}
void GeneratorV1::ExpectE(char c) {
    Expect(c, 'E', &GeneratorV1::ExpectN);
}
void GeneratorV1::ExpectN(char c) {
    Expect(c, 'N', &GeneratorV1::ExpectDot);
}
void GeneratorV1::ExpectDot(char c) {
    Expect(c, '.', &GeneratorV1::SectionName);
}

void GeneratorV1::SectionName(char c) {
    if (c == '-')
        input_ = &GeneratorV1::SectionNameDash;
    else
        name_ += c;
}

// One hyphen belongs to the name; two end it.
void GeneratorV1::SectionNameDash(char c) {
    if (c == '-') {
        input_ = &GeneratorV1::SectionClosing;
    } else {
        name_ += '-';
        name_ += c;
        input_ = &GeneratorV1::SectionName;
    }
}

void GeneratorV1::SectionClosing(char c) {
    if (c == '>') complete_ = true;
}

void GeneratorV1::ValueOpen(char c) {
    if (c == '%') {
        write("%");  // "%%": this one, and the second passes
        input_ = &GeneratorV1::Initial;
        EnterPass();
    } else {
        name_.assign(1, c);
        kind_ = kValue;
        input_ = &GeneratorV1::ValueName;
    }
}

void GeneratorV1::ValueName(char c) {
    if (c == '%')
        complete_ = true;
    else
        name_ += c;
}

}  // namespace Html
}  // namespace Stat
