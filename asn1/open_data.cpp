#include "asn1/open_data.h"

#include "asn1/visitor.h"

namespace ASN1 {

const TypeInfo OpenData::theInfo = {&createValue<OpenData>, tags::NONE};

OpenData::OpenData(const OpenData& other)
    : AbstractData(other),
      data_(other.data_ ? other.data_->clone() : nullptr),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr) {}

OpenData& OpenData::operator=(const OpenData& other) {
    OpenData copy(other);
    swap(copy);
    return *this;
}

void OpenData::swap(OpenData& other) {
    data_.swap(other.data_);
    buf_.swap(other.buf_);
}

std::vector<char>& OpenData::buf() {
    if (!buf_) buf_.reset(new std::vector<char>);
    return *buf_;
}

int OpenData::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const OpenData*>(&other);
    if (data_ && that.data_) return data_->compare(*that.data_);
    if (buf_ && that.buf_) {
        return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(),
                                           that.buf_->data(),
                                           that.buf_->data() + that.buf_->size());
    }
    if (!data_ && !buf_ && !that.data_ && !that.buf_) return 0;
    return data_ ? 1 : -1;
}

ASN1_DEFINE_CLONE_AND_VISITS(OpenData)

TypeConstrainedOpenData::TypeConstrainedOpenData(const TypeConstrainedOpenDataInfo* info)
    : OpenData(info) {
    if (info->typeInfo) grab(info->typeInfo->create(info->typeInfo));
}

AbstractData* TypeConstrainedOpenData::do_clone() const { return cloneByRecord(*this); }
bool TypeConstrainedOpenData::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }

}  // namespace ASN1
