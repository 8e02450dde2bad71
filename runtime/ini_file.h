#pragma once
// The configuration file as read: File -> Section -> SubSection (one per
// bracketed header) -> Key -> SubKey (one per "key = value" line). Repeated
// headers and keys are kept, each with its line number; the reader of the
// consumer decides whether a repetition is an error.

#include <iosfwd>
#include <map>
#include <string>

#include "runtime/dual_list.h"

namespace IniFile {

// Walks one level of the tree in file order; the end iterator holds null.
template <class T>
class GenericIterator {
public:
    explicit GenericIterator(T* node = nullptr) : node_(node) {}

    bool operator!=(const GenericIterator& other) const { return node_ != other.node_; }
    bool operator==(const GenericIterator& other) const { return node_ == other.node_; }
    GenericIterator& operator++() {
        if (node_) node_ = node_->next_item();
        return *this;
    }
    GenericIterator operator++(int) {
        GenericIterator old = *this;
        ++*this;
        return old;
    }
    T& operator*() const { return *node_; }
    T* operator->() const { return node_; }

private:
    T* node_;
};

// The children of one node in file order; owned, deleted on Clean().
template <class T>
class Children {
public:
    Children() = default;
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    ~Children() { Clean(); }

    T* Append(T* child) {
        list_.push_back(child);
        return child;
    }
    void Clean() {
        while (T* child = list_.pop_front()) delete child;
    }

    int count() const { return static_cast<int>(list_.count()); }
    T* first() const { return list_.head(); }
    T* last() const { return list_.tail(); }
    GenericIterator<T> begin() const { return GenericIterator<T>(list_.head()); }
    GenericIterator<T> end() const { return GenericIterator<T>(); }

private:
    F_dual_list<T> list_;
};

// Named children, also found by name. Only a lookup enters a child in the
// index; one appended directly is in the list only.
template <class T>
class NamedChildren : public Children<T> {
public:
    // The child of that name; an absent one is appended (a lookup creates).
    T& Lookup(const std::string& name) {
        T*& child = byName_[name];
        if (child == nullptr) child = this->Append(new T(name));
        return *child;
    }
    void Clean() {
        byName_.clear();
        Children<T>::Clean();
    }

private:
    std::map<std::string, T*> byName_;
};

// One occurrence of a key: its value and line (-1 for a placeholder).
class SubKey : public F_dual_list_item<SubKey> {
public:
    SubKey(const std::string& value, int lineNo) : mValue(value), mLineNo(lineNo) {}

    // "true", "yes", "1", "on" / "false", "no", "0", "off"; else the default.
    bool GetBool(bool defaultValue) const;
    void SetBool(bool value);
    // The leading number of the value; the default when there is none.
    int GetInt(int defaultValue) const;
    void SetInt(int value);
    float GetFloat(float defaultValue) const;
    void SetFloat(float value);
    void Dump(std::ostream& os) const;

    std::string mValue;
    int mLineNo;
};

// Every occurrence of one key name inside one subsection.
class Key : public F_dual_list_item<Key> {
public:
    explicit Key(const std::string& name) : mName(name) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    SubKey* NewSubKey(const std::string& value, int lineNo) {
        return subKeys_.Append(new SubKey(value, lineNo));
    }
    void CleanSubKeys() { subKeys_.Clean(); }
    // Gives a key that never occurred an empty placeholder occurrence.
    void CheckEmpty();
    void Dump(std::ostream& os) const;

    const std::string& name() const { return mName; }
    int SubKeyCount() const { return subKeys_.count(); }
    SubKey* First() const { return subKeys_.first(); }
    SubKey* Last() const { return subKeys_.last(); }
    GenericIterator<SubKey> begin() const { return subKeys_.begin(); }
    GenericIterator<SubKey> end() const { return subKeys_.end(); }

private:
    std::string mName;
    Children<SubKey> subKeys_;
};

// One bracketed header and the keys below it.
class SubSection : public F_dual_list_item<SubSection> {
public:
    explicit SubSection(int lineNo) : mLineNo(lineNo) {}
    SubSection(const SubSection&) = delete;
    SubSection& operator=(const SubSection&) = delete;

    // The key of that name; a lookup of an absent key creates it empty.
    Key& operator[](const std::string& name) { return keys_.Lookup(name); }
    Key* NewKey(const std::string& name) { return keys_.Append(new Key(name)); }
    SubKey* NewSubKey(const std::string& name, const std::string& value, int lineNo) {
        return (*this)[name].NewSubKey(value, lineNo);
    }
    void CleanKeys() { keys_.Clean(); }
    void Dump(std::ostream& os) const;

    int LineNo() const { return mLineNo; }
    int KeyCount() const { return keys_.count(); }
    GenericIterator<Key> begin() const { return keys_.begin(); }
    GenericIterator<Key> end() const { return keys_.end(); }

private:
    int mLineNo;
    NamedChildren<Key> keys_;
};

// Every occurrence of one header name.
class Section : public F_dual_list_item<Section> {
public:
    explicit Section(const std::string& name) : mName(name) {}
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    SubSection* NewSubSection(int lineNo) { return subSections_.Append(new SubSection(lineNo)); }
    void CleanSubSections() { subSections_.Clean(); }
    // Gives a section that never occurred an empty placeholder subsection.
    void CheckEmpty();
    void Dump(std::ostream& os) const;

    const std::string& name() const { return mName; }
    int SubSectionCount() const { return subSections_.count(); }
    SubSection* First() const { return subSections_.first(); }
    SubSection* Last() const { return subSections_.last(); }
    GenericIterator<SubSection> begin() const { return subSections_.begin(); }
    GenericIterator<SubSection> end() const { return subSections_.end(); }

private:
    std::string mName;
    Children<SubSection> subSections_;
};

// The whole file. Read-only once parsed; nothing is ever written back.
class File {
public:
    File() = default;
    explicit File(const std::string& fileName) { Open(fileName); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { Close(); }

    // True when the file could be read; its content never makes it fail.
    bool Open(const std::string& fileName);
    void Close();
    void Sync() {}

    // The section of that name; a lookup of an absent section creates it.
    Section& operator[](const std::string& name) { return sections_.Lookup(name); }
    Section* NewSection(const std::string& name) { return sections_.Append(new Section(name)); }
    SubSection* NewSubSection(const std::string& name, int lineNo) {
        return (*this)[name].NewSubSection(lineNo);
    }
    void CleanSections() { sections_.Clean(); }
    void Dump(std::ostream& os) const;

    bool IsOpen() const { return mOpen; }
    const std::string& FileName() const { return mFileName; }
    int SectionCount() const { return sections_.count(); }
    GenericIterator<Section> begin() const { return sections_.begin(); }
    GenericIterator<Section> end() const { return sections_.end(); }

private:
    friend std::istream& operator>>(std::istream& is, File& file);

    void IntOpen();
    void IntOpenStream(std::istream& is);

    std::string mFileName;
    bool mOpen = false;
    NamedChildren<Section> sections_;
};

// Replaces the model by what the stream holds (file name empty).
std::istream& operator>>(std::istream& is, File& file);

}  // namespace IniFile
