#pragma once
// Stream helpers for log lines and dumps: object headers, quoted values, hex
// dumps and ASCII tables. Each leaves the stream's format as it found it,
// except where said.

#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace ext {

template <class T>
struct OutObjHeader {
    const T* object;
};

// `os << ext::header(this)` writes the object's log-line prefix (its PutHeader).
template <class T>
OutObjHeader<T> header(const T* object) {
    return OutObjHeader<T>{object};
}

template <class T>
std::ostream& operator<<(std::ostream& os, const OutObjHeader<T>& h) {
    h.object->PutHeader(os);
    return os;
}

template <class T>
struct OutQuoted {
    const T* value;
};

template <class T>
OutQuoted<T> quoted(const T& value) {
    return OutQuoted<T>{&value};
}

template <class T>
std::ostream& operator<<(std::ostream& os, const OutQuoted<T>& q) {
    return os << '"' << *q.value << '"';
}

// Each byte as two uppercase hex digits and a space.
class OutBufInHex {
public:
    OutBufInHex(const void* begin, const void* end)
        : begin_(static_cast<const unsigned char*>(begin)),
          end_(static_cast<const unsigned char*>(end)) {}
    OutBufInHex(const void* data, size_t length)
        : OutBufInHex(data, static_cast<const unsigned char*>(data) + length) {}
    void Put(std::ostream& os) const;

private:
    const unsigned char* begin_;
    const unsigned char* end_;
};

// "0x" and the value in uppercase hex, zero-filled to `width` digits.
class OutUnsignedInHex {
public:
    OutUnsignedInHex(unsigned int value, int width) : value_(value), width_(width) {}
    void Put(std::ostream& os) const;

private:
    unsigned int value_;
    int width_;
};

inline std::ostream& operator<<(std::ostream& os, const OutBufInHex& h) {
    h.Put(os);
    return os;
}

inline std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& h) {
    h.Put(os);
    return os;
}

// An ASCII table: cells centred between "|" in fixed-width columns.
class Table {
public:
    Table() = default;
    explicit Table(int w1) { add(w1); }
    template <class... W>
    Table(int w1, W... rest) : Table(rest...) {
        widths_.insert(widths_.begin(), w1);
    }

    void add(int width) { widths_.push_back(width); }
    void init() { resetrow(); }
    void resetrow() {
        column_ = 0;
        inRow_ = false;
    }

    void row(std::ostream& os, const std::string& text);
    void finalize(std::ostream& os);
    void delimeter(std::ostream& os);
    void gap(std::ostream& os);

    size_t columns() const { return widths_.size(); }

    // Collects one output statement's cells; completes a started row when it
    // goes.
    class Sentry {
    public:
        Sentry(std::ostream& os, Table& table) : os_(&os), table_(&table) {
            cell_.copyfmt(os);
        }
        ~Sentry() { table_->finalize(*os_); }
        Sentry(const Sentry&) = delete;
        Sentry& operator=(const Sentry&) = delete;

        void row() const;
        Sentry& operator<<(int value);
        Sentry& operator<<(Sentry& (*manipulator)(Sentry&)) { return manipulator(*this); }
        template <class T>
        Sentry& operator<<(const T& value) {
            cell_ << value;
            return *this;
        }

        std::ostream& stream() const { return *os_; }
        Table& table() const { return *table_; }

    private:
        std::ostream* os_;
        Table* table_;
        mutable std::ostringstream cell_;
    };

private:
    void line(std::ostream& os, char corner, char fill);

    std::vector<int> widths_;
    unsigned column_ = 0;
    bool inRow_ = false;
};

// Manipulators on a Table::Sentry.
Table::Sentry& nextrow(Table::Sentry& s);
Table::Sentry& beginrow(Table::Sentry& s);
Table::Sentry& delimeter(Table::Sentry& s);

}  // namespace ext
