#include "runtime/ini_file.h"

#include <cstdio>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

namespace {

// Reads the file one byte at a time. Only the space separates names and
// values; a tab is skipped at the start of a line and is text elsewhere.
class Parser {
public:
    explicit Parser(File& file) : file_(file) {}

    void Run(std::istream& is) {
        for (int c = is.get(); c != std::char_traits<char>::eof(); c = is.get()) Feed(char(c));
        if (state_ == AfterEquals || state_ == InValue) StoreKey();
    }

private:
    enum State { BeforeSection, InHeader, AfterHeader, LineStart, InKey, AfterEquals, InValue };

    void Feed(char c) {
        if (c == '\r') return;
        if (comment_) {
            if (c != '\n') return;
            comment_ = false;
        }
        switch (state_) {
            case BeforeSection:
                OnBeforeSection(c);
                break;
            case InHeader:
                OnHeader(c);
                break;
            case AfterHeader:
                OnAfterHeader(c);
                break;
            case LineStart:
                OnLineStart(c);
                break;
            case InKey:
                OnKey(c);
                break;
            case AfterEquals:
                OnAfterEquals(c);
                break;
            case InValue:
                OnValue(c);
                break;
        }
        if (c == '\n') ++line_;
    }

    void OnBeforeSection(char c) {
        if (c == '#')
            comment_ = true;
        else if (c == '[')
            OpenHeader();
    }

    void OnHeader(char c) {
        if (c == '\n') {
            state_ = BeforeSection;  // a header without "]" is abandoned
        } else if (c == ']') {
            current_ = file_.NewSubSection(section_, line_);
            state_ = AfterHeader;
        } else {
            section_ += c;
        }
    }

    void OnAfterHeader(char c) {
        if (c == '\n')
            state_ = LineStart;
        else if (c == '#')
            comment_ = true;
    }

    void OnLineStart(char c) {
        if (c == '#') {
            comment_ = true;
        } else if (c == '[') {
            OpenHeader();
        } else if (c != '\t' && c != '\n' && c != ' ') {
            key_.assign(1, c);
            spaces_ = 0;
            state_ = InKey;
        }
    }

    void OnKey(char c) {
        if (c == ' ') {
            ++spaces_;
        } else if (c == '=') {
            value_.clear();
            state_ = AfterEquals;
        } else if (c == '\n') {
            key_.clear();  // a line without "=" is dropped
            spaces_ = 0;
            state_ = LineStart;
        } else {
            AppendPending(key_, c);
        }
    }

    void OnAfterEquals(char c) {
        if (c == ' ') return;
        if (c == '#') {
            comment_ = true;
        } else if (c == '\n') {
            StoreKey();
        } else {
            value_ += c;
            spaces_ = 0;
            state_ = InValue;
        }
    }

    void OnValue(char c) {
        if (c == ' ') {
            ++spaces_;
        } else if (c == '\n') {
            StoreKey();
        } else if (c == '#' && spaces_ > 0) {
            comment_ = true;  // " #" ends the value; "a#b" keeps it
            spaces_ = 0;
        } else {
            AppendPending(value_, c);
        }
    }

    void OpenHeader() {
        section_.clear();
        state_ = InHeader;
    }

    void AppendPending(std::string& text, char c) {
        text.append(spaces_, ' ');
        text += c;
        spaces_ = 0;
    }

    void StoreKey() {
        current_->NewSubKey(key_, value_, line_);
        key_.clear();
        spaces_ = 0;
        state_ = LineStart;
    }

    File& file_;
    State state_ = BeforeSection;
    bool comment_ = false;
    int spaces_ = 0;
    int line_ = 1;
    SubSection* current_ = nullptr;
    std::string section_;
    std::string key_;
    std::string value_;
};

}  // namespace

// --- SubKey

bool SubKey::GetBool(bool defaultValue) const {
    if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on") return true;
    if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off") return false;
    return defaultValue;
}

void SubKey::SetBool(bool value) {
    mValue = value ? "yes" : "no";
}

int SubKey::GetInt(int defaultValue) const {
    int value = defaultValue;
    std::sscanf(mValue.c_str(), "%d", &value);
    return value;
}

void SubKey::SetInt(int value) {
    std::ostringstream os;
    os << value;
    mValue = os.str();
}

float SubKey::GetFloat(float defaultValue) const {
    float value = defaultValue;
    std::sscanf(mValue.c_str(), "%f", &value);
    return value;
}

void SubKey::SetFloat(float value) {
    std::ostringstream os;
    os << value;
    mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const {
    os << "dumping IniFile::SubKey" << std::endl;
    os << "mValue=\"" << mValue << "\"" << std::endl;
    os << "mLineNo=" << mLineNo << std::endl;
}

// --- Key

void Key::CheckEmpty() {
    if (SubKeyCount() == 0) NewSubKey("", -1);
}

void Key::Dump(std::ostream& os) const {
    os << "dumping IniFile::Key" << std::endl;
    os << "mName=\"" << mName << "\"" << std::endl;
    os << "mSubKeyCount=" << SubKeyCount() << std::endl;
    for (const SubKey& subKey : *this) subKey.Dump(os);
}

// --- SubSection

void SubSection::Dump(std::ostream& os) const {
    os << "dumping IniFile::SubSection" << std::endl;
    os << "mLineNo=\"" << mLineNo << "\"" << std::endl;
    os << "mKeyCount=" << KeyCount() << std::endl;
    for (const Key& key : *this) key.Dump(os);
}

// --- Section

void Section::CheckEmpty() {
    if (SubSectionCount() == 0) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
    os << "dumping IniFile::Section" << std::endl;
    os << "mName=\"" << mName << "\"" << std::endl;
    os << "mSubSectionCount=" << SubSectionCount() << std::endl;
    for (const SubSection& subSection : *this) subSection.Dump(os);
}

// --- File

bool File::Open(const std::string& fileName) {
    Close();
    mFileName = fileName;
    IntOpen();
    return mOpen;
}

void File::IntOpen() {
    std::ifstream in(mFileName, std::ios::in | std::ios::binary);
    if (in.is_open()) IntOpenStream(in);
}

void File::IntOpenStream(std::istream& is) {
    mOpen = true;
    Parser(*this).Run(is);
}

void File::Close() {
    if (!mOpen) return;
    CleanSections();
    mOpen = false;
}

void File::Dump(std::ostream& os) const {
    os << "dumping IniFile::File" << std::endl;
    os << "mFileName=\"" << mFileName << "\"" << std::endl;
    os << std::endl;
    os << "mSectionCount=" << SectionCount() << std::endl;
    for (const Section& section : *this) section.Dump(os);
}

std::istream& operator>>(std::istream& is, File& file) {
    file.Close();
    file.mFileName.clear();
    file.IntOpenStream(is);
    return is;
}

}  // namespace IniFile
