#include "runtime/ext_output.h"

#include <iomanip>

namespace ext {

namespace {

// Restores the stream's flags on exit and leaves the fill as a space.
class HexScope {
public:
    explicit HexScope(std::ostream& os) : os_(os), flags_(os.flags()) {
        os_ << std::hex << std::uppercase << std::setfill('0');
    }
    ~HexScope() {
        os_.fill(' ');
        os_.flags(flags_);
    }

private:
    std::ostream& os_;
    std::ios_base::fmtflags flags_;
};

}  // namespace

void OutBufInHex::Put(std::ostream& os) const {
    HexScope scope(os);
    for (const unsigned char* p = begin_; p < end_; ++p)
        os << std::setw(2) << static_cast<unsigned>(*p) << ' ';
}

void OutUnsignedInHex::Put(std::ostream& os) const {
    HexScope scope(os);
    os << "0x" << std::setw(width_) << value_;
}

void Table::row(std::ostream& os, const std::string& text) {
    if (column_ >= widths_.size()) return;
    inRow_ = true;
    int width = widths_[column_];
    int length = std::min<int>(width, static_cast<int>(text.size()));
    int pad = width - length;
    os << '|' << std::string(pad / 2, ' ') << text << std::string((pad + 1) / 2, ' ');
    if (++column_ == widths_.size()) {
        os << '|' << std::endl;
        inRow_ = false;
    }
}

void Table::finalize(std::ostream& os) {
    while (inRow_) row(os, " ");
}

void Table::line(std::ostream& os, char corner, char fill) {
    finalize(os);
    if (widths_.empty()) return;
    for (int w : widths_) os << corner << std::string(w, fill);
    os << corner << std::endl;
}

void Table::delimeter(std::ostream& os) { line(os, '+', '-'); }

void Table::gap(std::ostream& os) { line(os, '|', ' '); }

void Table::Sentry::row() const {
    table_->row(*os_, cell_.str());
    cell_.str(std::string());
}

Table::Sentry& Table::Sentry::operator<<(int value) {
    // Negative numbers show their bits in hexadecimal or octal.
    if (cell_.flags() & (std::ios_base::hex | std::ios_base::oct))
        cell_ << static_cast<unsigned int>(value);
    else
        cell_ << value;
    return *this;
}

Table::Sentry& nextrow(Table::Sentry& s) {
    s.row();
    return s;
}

Table::Sentry& beginrow(Table::Sentry& s) {
    s.table().resetrow();
    return s;
}

Table::Sentry& delimeter(Table::Sentry& s) {
    s.table().delimeter(s.stream());
    return s;
}

}  // namespace ext
