#include "asn1/avn_decoder.h"

#include "asn1/asn1.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <istream>
#include <sstream>

namespace ASN1 {

std::ios_base::iostate AbstractData::get_from(std::istream& stream) {
    AVNDecoder parser(stream);
    return accept(parser) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(const std::string& text) {
    std::istringstream stream(text);
    return get_from(stream) == std::ios_base::goodbit;
}

namespace {

bool isLetter(int c) { return std::isalpha(c) != 0; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isIdentifierCharacter(int c) { return std::isalnum(c) || c == '-' || c == '_'; }

// Digits of `text` in `base` (2 or 16), blanks and newlines ignored, as
// octets: the last octet is padded with zero bits. bitCount is the number of
// bits the digits give.
bool get_from_string(const std::string& text, std::vector<char>& octets, unsigned& bitCount,
                     int base) {
    const unsigned bitsPerDigit = base == 16 ? 4 : 1;
    octets.clear();
    bitCount = 0;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
        const int digit = std::isxdigit(static_cast<unsigned char>(c))
                              ? (isDigit(c) ? c - '0' : std::tolower(c) - 'a' + 10)
                              : base;
        if (digit >= base) return false;
        if (bitCount / 8 >= MaximumStringSize) return false;
        if (bitCount % 8 == 0) octets.push_back(0);
        const unsigned shift = 8 - bitCount % 8 - bitsPerDigit;
        octets.back() = static_cast<char>(octets.back() | (digit << shift));
        bitCount += bitsPerDigit;
    }
    return true;
}

// The index of word among names; false when absent.
bool get_id(const char* const* names, unsigned count, const std::string& word, unsigned& index) {
    for (unsigned i = 0; i < count; ++i) {
        if (word == names[i]) {
            index = i;
            return true;
        }
    }
    return false;
}

}  // namespace

int AVNDecoder::peek() {
    while (std::isspace(stream_->peek())) stream_->get();
    return stream_->peek();
}

bool AVNDecoder::expect(char c) {
    if (peek() != c) return false;
    stream_->get();
    return true;
}

bool AVNDecoder::readIdentifier(std::string& word) {
    word.clear();
    if (expect('}')) {
        word = "}";
        return true;
    }
    if (!isLetter(peek())) return false;
    while (isIdentifierCharacter(stream_->peek()) && word.size() < 256) {
        word += static_cast<char>(stream_->get());
    }
    return !isIdentifierCharacter(stream_->peek());
}

bool AVNDecoder::readNumber(long long& number) {
    const bool negative = expect('-');
    if (!isDigit(stream_->peek())) return false;
    unsigned long long magnitude = 0;
    while (isDigit(stream_->peek())) {
        magnitude = magnitude * 10 + static_cast<unsigned>(stream_->get() - '0');
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    number = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

bool AVNDecoder::readLetters(std::string& word) {
    word.clear();
    while (isLetter(peek()) && word.size() <= 5) word += static_cast<char>(stream_->get());
    return !word.empty();
}

// The text between two quote characters; a doubled quote inside stands for
// one quote.
bool AVNDecoder::readQuoted(std::string& text, char quote) {
    text.clear();
    if (!expect(quote)) return false;
    for (;;) {
        const int c = stream_->get();
        if (c == std::char_traits<char>::eof()) return false;
        if (c == quote) {
            if (quote != '"' || stream_->peek() != '"') return true;
            stream_->get();
        }
        text += static_cast<char>(c);
    }
}

template <class Lookup>
bool AVNDecoder::readNamedNumber(long long lower, long long upper, Lookup lookup,
                                 long long& number) {
    const int next = peek();
    if (isDigit(next) || next == '-') {
        return readNumber(number) && number >= lower && number <= upper;
    }
    std::string name;
    return readIdentifier(name) && lookup(name.c_str(), number);
}

bool AVNDecoder::readNested(AbstractData& value) { return visitNested(*this, value, depth_); }

bool AVNDecoder::do_visit(Null&) {
    std::string word;
    return readLetters(word) && word == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& value) {
    std::string word;
    if (!readLetters(word)) return false;
    if (word != "TRUE" && word != "FALSE") return false;
    value.setValue(word == "TRUE");
    return true;
}

bool AVNDecoder::do_visit(INTEGER& value) {
    long long number;
    if (!readNumber(number)) return false;
    if (value.isUnsigned() ? number < 0 : (number < INT_MIN || number > INT_MAX)) return false;
    value.setValue(static_cast<unsigned>(number));
    return true;
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& value) {
    const long long lower = value.isUnsigned() ? 0 : INT_MIN;
    const long long upper = value.isUnsigned() ? UINT_MAX : INT_MAX;
    long long number;
    auto byName = [&value](const char* name, long long& found) {
        if (!value.setFromName(name)) return false;
        found = value.isUnsigned() ? value.getUnsignedValue() : value.getValue();
        return true;
    };
    if (!readNamedNumber(lower, upper, byName, number)) return false;
    value.setValue(static_cast<unsigned>(number));
    return true;
}

bool AVNDecoder::do_visit(ENUMERATED& value) {
    long long number;
    auto byName = [&value](const char* name, long long& found) {
        if (!value.setFromName(name)) return false;
        found = value.getValue();
        return true;
    };
    if (!readNamedNumber(INT_MIN, INT_MAX, byName, number)) return false;
    value.setValue(static_cast<int>(number));
    return true;
}

// { arc arc ... }, each arc a number or a name with its number: iso(1).
bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& value) {
    if (!expect('{')) return false;
    value.arcs().clear();
    while (!expect('}')) {
        if (value.arcs().size() >= MaximumArraySize) return false;
        std::string name;
        const bool named = isLetter(peek());
        if (named && (!readIdentifier(name) || !expect('('))) return false;
        long long arc;
        if (!readNumber(arc) || arc < 0 || (named && !expect(')'))) return false;
        value.arcs().push_back(static_cast<unsigned>(arc));
    }
    return true;
}

// '...'H or '...'B.
bool AVNDecoder::readOctets(std::vector<char>& octets, unsigned& bitCount) {
    std::string digits;
    if (!readQuoted(digits, '\'')) return false;
    const int form = stream_->get();
    if (form == 'H') return get_from_string(digits, octets, bitCount, 16);
    if (form == 'B') return get_from_string(digits, octets, bitCount, 2);
    return false;
}

bool AVNDecoder::do_visit(OCTET_STRING& value) {
    std::vector<char> octets;
    unsigned bitCount;
    if (!readOctets(octets, bitCount)) return false;
    value.assign(octets.begin(), octets.end());
    return true;
}

bool AVNDecoder::do_visit(BIT_STRING& value) {
    std::vector<char> octets;
    unsigned bitCount;
    if (!readOctets(octets, bitCount) || bitCount > MaximumStringSize) return false;
    value.resize(0);
    value.resize(bitCount);
    value.bitData() = octets;
    return true;
}

bool AVNDecoder::do_visit(AbstractString& value) {
    std::string text;
    if (!readQuoted(text, '"') || text.size() > MaximumStringSize) return false;
    value.assign(text);
    return true;
}

// {{group, plane, row, cell}, ...}
bool AVNDecoder::readQuadruples(std::wstring& text) {
    text.clear();
    if (!expect('{')) return false;
    if (expect('}')) return true;
    do {
        if (text.size() >= MaximumStringSize || !expect('{')) return false;
        unsigned code = 0;
        for (int part = 0; part < 4; ++part) {
            long long number;
            if ((part && !expect(',')) || !readNumber(number) || number < 0 || number > 255) {
                return false;
            }
            code = (code << 8) | static_cast<unsigned>(number);
        }
        if (!expect('}')) return false;
        text += static_cast<wchar_t>(code);
    } while (expect(','));
    return expect('}');
}

bool AVNDecoder::do_visit(BMPString& value) {
    std::wstring wide;
    if (peek() == '{') {
        if (!readQuadruples(wide)) return false;
    } else {
        std::string text;
        if (!readQuoted(text, '"') || text.find('\0') != std::string::npos) return false;
        const size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
        if (length == static_cast<size_t>(-1) || length > MaximumStringSize) return false;
        wide.resize(length + 1);
        std::mbstowcs(&wide[0], text.c_str(), length + 1);
        wide.resize(length);
    }
    value.assign(wide);
    return true;
}

bool AVNDecoder::do_visit(CHOICE& value) {
    std::string name;
    unsigned index;
    if (!readIdentifier(name) || !expect(':')) return false;
    if (!get_id(value.info()->selectionNames, value.totalChoices(), name, index)) return false;
    if (value.currentSelection() != static_cast<int>(index) || !value.getSelection()) {
        value.setSelection(static_cast<int>(index), nullptr);
        if (!value.createSelection()) return false;
    }
    return readNested(*value.getSelection());
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& value) {
    if (!expect('{')) return false;
    value.clear();
    if (expect('}')) return true;
    do {
        if (value.size() >= MaximumArraySize) return false;
        if (!readNested(value.append())) {
            value.resize(value.size() - 1);
            return false;
        }
    } while (expect(','));
    return expect('}');
}

// An open type has no text form of its own.
bool AVNDecoder::do_visit(OpenData&) { return false; }
bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& value) {
    return value.has_data() && readNested(*value.get_data());
}

bool AVNDecoder::do_visit(GeneralizedTime& value) {
    std::string text;
    if (!readQuoted(text, '"')) return false;
    value.set(text.c_str());
    return true;
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& value) {
    if (!expect('{')) return FAIL;
    // Fields the text leaves out are absent, whatever the value held.
    for (unsigned id = 0; id < value.numOptional(); ++id) value.removeOptionalField(id);
    value.extensionMap().resize(0);
    if (expect('}')) return laterFieldsOptional(value, -1) ? STOP : FAIL;
    std::string word;
    if (!readIdentifier(word) || word == "}") return FAIL;
    identifiers_.push_back(word);
    return CONTINUE;
}

bool AVNDecoder::laterFieldsOptional(const SEQUENCE& value, int index) const {
    for (unsigned i = static_cast<unsigned>(index + 1); i < value.numRootFields(); ++i) {
        if (value.fieldId(i) < 0) return false;
    }
    return true;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& value, int index, int optionalId) {
    if (identifiers_.empty()) return FAIL;
    if (identifiers_.back() != value.info()->fieldNames[index]) {
        return optionalId >= 0 ? CONTINUE : FAIL;
    }
    if (optionalId >= 0) {
        value.includeOptionalField(static_cast<unsigned>(optionalId), static_cast<unsigned>(index));
    }
    AbstractData* field = value.getField(static_cast<unsigned>(index));
    if (!field || !readNested(*field)) return FAIL;
    if (expect(',')) return readIdentifier(identifiers_.back()) ? CONTINUE : FAIL;
    if (!expect('}')) return FAIL;
    identifiers_.pop_back();
    return laterFieldsOptional(value, index) ? STOP : FAIL;
}

int AVNDecoder::visitKnownExtension(SEQUENCE& value, int index, int optionalId) {
    return visitExtensionRoot(value, index, optionalId);
}

// Every field was offered and the text goes on: only the brace after a
// trailing comma may follow.
bool AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
    if (identifiers_.empty() || identifiers_.back() != "}") return false;
    identifiers_.pop_back();
    return true;
}

}  // namespace ASN1
