#pragma once
// Base of the stream buffers that hand what was written to sync() in pieces:
// a put area of fixed size that goes to sync() whenever it fills.

#include <cstring>
#include <streambuf>
#include <vector>

class PutAreaStreamBuf : public std::streambuf {
protected:
    // The last `reserved` bytes of every area stay free (for a terminator).
    PutAreaStreamBuf(std::streamsize size, std::streamsize reserved)
        : storage_(static_cast<size_t>(size)), reserved_(reserved) {
        use_area(storage_.data(), size);
    }

    // Another area, of the caller's; sizes below 2 are ignored.
    std::streambuf* setbuf(char* buffer, std::streamsize size) override {
        if (size < 2) return this;
        sync();
        storage_.clear();
        storage_.shrink_to_fit();
        use_area(buffer, size);
        return this;
    }

    int_type overflow(int_type c) override {
        sync();
        if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
        if (pptr() == epptr()) return traits_type::eof();
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }

    void empty_area() { setp(pbase(), epptr()); }

    // The first line feed in [begin, end), or null.
    static char* find_line_end(char* begin, char* end) {
        return static_cast<char*>(std::memchr(begin, '\n', size_t(end - begin)));
    }

private:
    void use_area(char* begin, std::streamsize size) { setp(begin, begin + size - reserved_); }

    std::vector<char> storage_;
    std::streamsize reserved_;
};
