#pragma once
// Statistics as HTML: a template copied from an input stream to an output
// stream, with "%name%" replaced by values and "<!--GEN.name-->" ...
// "<!--GEN.end-->" sections rendered once per child object of a tree of
// statistics objects.

#include <iosfwd>
#include <list>
#include <memory>
#include <string>

namespace Stat {

// A value of an object; an invalid one means the object has no such value.
struct Value {
    Value() = default;
    explicit Value(const std::string& text) : valid(true), text(text) {}
    explicit operator bool() const { return valid; }

    bool valid = false;
    std::string text;
};

class Object;

// Walks a list of child objects.
class IteratorBase {
public:
    virtual ~IteratorBase() = default;
    // True while the iterator stands on an element.
    virtual bool valid() const = 0;
    // Steps to the next element; false when that was not possible.
    virtual bool next() = 0;
    virtual const Object& current() const = 0;
};

// What the generator knows of a statistics object.
class Object {
public:
    virtual ~Object() = default;
    virtual Value statistics_value(const std::string& name) const = 0;
    // A child object, or null.
    virtual const Object* statistics_object(const std::string& name) const = 0;
    // A list of child objects, or null.
    virtual std::unique_ptr<IteratorBase> statistics_iterator(const std::string& name) const = 0;
};

namespace Html {

// The renderer. Markers:
// - "%name%": the value of the innermost object on the stack that has it; a
//   name that no object has is copied unchanged, and "%%" stays "%%".
// - "<!--GEN.name-->" ... "<!--GEN.end-->": the section rendered once per
//   element of the current object's list "name", or once over its child
//   "name"; neither, or an empty list, writes nothing of it. "end" at the top
//   level stops the output.
// Every other tag, ordinary comments included, is copied unchanged and its
// percent signs are not markers. The input must be seekable: a section over
// a list is read again for every element.
class GeneratorV1 {
public:
    GeneratorV1(const Object& root, std::ostream& out, std::istream& in);
    GeneratorV1(const GeneratorV1&) = delete;
    GeneratorV1& operator=(const GeneratorV1&) = delete;

    // Renders the template; returns 1.
    int generate();

private:
    enum TokenKind { kSection = 0, kValue = 1, kEndOfInput = 2 };
    using CharState = void (GeneratorV1::*)(char);

    TokenKind parse();
    int generate_body();
    void render_section(const std::string& name);
    void render_list(IteratorBase& list);
    void render_child(const Object& child);
    void render_suppressed();
    void write_value(const std::string& name);
    void write(const std::string& text);

    // Input states: where the reader is in the template.
    void Initial(char c);
    void TagOpen(char c);
    void TagBody(char c);
    void CommentDash1(char c);
    void CommentDash2(char c);
    void ExpectG(char c);
    void ExpectE(char c);
    void ExpectN(char c);
    void ExpectDot(char c);
    void SectionName(char c);
    void SectionNameDash(char c);
    void SectionClosing(char c);
    void ValueOpen(char c);
    void ValueName(char c);
    void Expect(char c, char expected, CharState next);
    void NotAMarker(char c);

    // Output states: whether a character is written or held back.
    void Pass(char c);
    void Capture(char c);
    void EnterPass() { output_ = &GeneratorV1::Pass; }
    void EnterCapture();

    const Object& root_;
    std::ostream& out_;
    std::istream& in_;
    std::list<const Object*> stack_;
    const Object* current_;
    int suppressed_ = 0;  // written only while 0
    CharState input_ = &GeneratorV1::Initial;
    CharState output_ = &GeneratorV1::Pass;
    TokenKind kind_ = kEndOfInput;
    std::string name_;
    bool complete_ = false;
    std::string capture_;
};

int generateV1(const Object& root, std::ostream& out, std::istream& in);

}  // namespace Html

}  // namespace Stat
