#include "asn1/avn_encoder.h"

#include "asn1/asn1.h"

#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>

namespace ASN1 {

std::ios_base::iostate AbstractData::print_on(std::ostream& stream) const {
    AVNEncoder printer(stream);
    return accept(printer) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const {
    std::ostringstream text;
    print_on(text);
    return text.str();
}

bool AVNEncoder::good() const { return stream_->good(); }

void AVNEncoder::spaces(int count) {
    for (int i = 0; i < count; ++i) stream_->put(' ');
}

// Hex digits written by hand, so that the stream's flags stay untouched.
bool AVNEncoder::printOctets(const char* data, size_t count) {
    static const char digits[] = "0123456789abcdef";
    stream_->put('\'');
    for (size_t i = 0; i < count; ++i) {
        if (i) stream_->put(' ');
        const unsigned char octet = static_cast<unsigned char>(data[i]);
        stream_->put(digits[octet >> 4]);
        stream_->put(digits[octet & 0xF]);
    }
    *stream_ << "'H";
    return good();
}

// Between double quotes; a quote inside is doubled, as in ASN.1 itself, so
// that the text reads back.
bool AVNEncoder::printQuoted(const char* text, size_t length) {
    stream_->put('"');
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '"') stream_->put('"');
        stream_->put(text[i]);
    }
    stream_->put('"');
    return good();
}

bool AVNEncoder::do_visit(const Null&) {
    *stream_ << "NULL";
    return good();
}

bool AVNEncoder::do_visit(const BOOLEAN& value) {
    *stream_ << (value.getValue() ? "TRUE" : "FALSE");
    return good();
}

bool AVNEncoder::do_visit(const INTEGER& value) {
    *stream_ << (value.isUnsigned() ? std::to_string(value.getUnsignedValue())
                                    : std::to_string(value.getValue()));
    return good();
}

bool AVNEncoder::do_visit(const IntegerWithNamedNumber& value) {
    const char* name = value.getName();
    if (!name) return do_visit(static_cast<const INTEGER&>(value));
    *stream_ << name;
    return good();
}

bool AVNEncoder::do_visit(const ENUMERATED& value) {
    const char* name = value.getName();
    if (name) {
        *stream_ << name;
    } else {
        *stream_ << std::to_string(value.getValue());
    }
    return good();
}

bool AVNEncoder::do_visit(const OBJECT_IDENTIFIER& value) {
    *stream_ << "{ ";
    for (unsigned arc : value.arcs()) *stream_ << std::to_string(arc) << ' ';
    stream_->put('}');
    return good();
}

bool AVNEncoder::do_visit(const BIT_STRING& value) {
    stream_->put('\'');
    for (unsigned bit = 0; bit < value.size(); ++bit) stream_->put(value[bit] ? '1' : '0');
    *stream_ << "'B";
    return good();
}

bool AVNEncoder::do_visit(const OCTET_STRING& value) {
    return printOctets(value.data(), value.size());
}

bool AVNEncoder::do_visit(const AbstractString& value) {
    return printQuoted(value.data(), value.size());
}

namespace {

// The characters as multibyte text of the current locale, or false when one
// of them has no such form (or is a null character, which would end it).
bool toMultibyte(const std::wstring& text, std::string& result) {
    if (text.find(L'\0') != std::wstring::npos) return false;
    const size_t length = std::wcstombs(nullptr, text.c_str(), 0);
    if (length == static_cast<size_t>(-1)) return false;
    result.resize(length + 1);
    std::wcstombs(&result[0], text.c_str(), length + 1);
    result.resize(length);
    return true;
}

}  // namespace

// Text when the locale can write every character; otherwise ASN.1's
// quadruples {group, plane, row, cell}, one per character.
bool AVNEncoder::do_visit(const BMPString& value) {
    std::string text;
    if (toMultibyte(value, text)) return printQuoted(text.data(), text.size());
    stream_->put('{');
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned code = static_cast<unsigned>(value[i]);
        if (i) *stream_ << ", ";
        *stream_ << "{ " << std::to_string(code >> 24) << ", "
                 << std::to_string((code >> 16) & 0xFF) << ", "
                 << std::to_string((code >> 8) & 0xFF) << ", " << std::to_string(code & 0xFF)
                 << '}';
    }
    stream_->put('}');
    return good();
}

bool AVNEncoder::do_visit(const CHOICE& value) {
    const int selection = value.currentSelection();
    const AbstractData* alternative = value.getSelection();
    if (selection < 0 || static_cast<unsigned>(selection) >= value.totalChoices() ||
        !alternative) {
        return false;
    }
    *stream_ << value.info()->selectionNames[selection] << " : ";
    return good() && alternative->accept(*this);
}

bool AVNEncoder::do_visit(const OpenData& value) {
    if (value.has_data()) return value.get_data()->accept(*this);
    const std::vector<char>* octets = value.get_buf();
    return octets && printOctets(octets->data(), octets->size());
}

bool AVNEncoder::do_visit(const GeneralizedTime& value) {
    const std::string text = value.get();
    return printQuoted(text.data(), text.size());
}

bool AVNEncoder::do_visit(const SEQUENCE_OF_Base& value) {
    *stream_ << "{\n";
    const int outer = indent_;
    indent_ += 2;
    bool ok = good();
    for (unsigned i = 0; ok && i < value.size(); ++i) {
        if (i) *stream_ << ",\n";
        spaces(indent_);
        ok = good() && value.getElement(i).accept(*this);
    }
    indent_ = outer;
    if (!ok) return false;
    if (!value.empty()) stream_->put('\n');
    spaces(indent_);
    stream_->put('}');
    return good();
}

bool AVNEncoder::preVisitExtensionRoots(const SEQUENCE&) {
    fieldPrinted_.push_back(false);
    *stream_ << "{\n";
    return good();
}

bool AVNEncoder::visitExtensionRoot(const SEQUENCE& value, int index) {
    const AbstractData* field = value.getField(static_cast<unsigned>(index));
    if (!field) return false;
    if (fieldPrinted_.back()) *stream_ << ",\n";
    spaces(indent_ + 2);
    *stream_ << value.info()->fieldNames[index] << ' ';
    indent_ += 2;
    const bool ok = good() && field->accept(*this);
    indent_ -= 2;
    fieldPrinted_.back() = true;
    return ok;
}

bool AVNEncoder::visitKnownExtension(const SEQUENCE& value, int index) {
    return visitExtensionRoot(value, index);
}

bool AVNEncoder::afterVisitSequence(const SEQUENCE&) {
    if (fieldPrinted_.back()) stream_->put('\n');
    fieldPrinted_.pop_back();
    spaces(indent_);
    stream_->put('}');
    return good();
}

}  // namespace ASN1
