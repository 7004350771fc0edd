#include <algorithm>
#include <cstring>

#include "platform/Xml.h"
#include "platform/posix/XmlMemoryStreamImpl.h"

namespace kx::platform {

void CXmlMemoryStream::Impl::Write(const void* data, std::size_t count) {
    if (position + count > bytes.size()) bytes.resize(position + count);
    if (count > 0) std::memcpy(bytes.data() + position, data, count);
    position += count;
}

CXmlMemoryStream::CXmlMemoryStream() = default;
CXmlMemoryStream::~CXmlMemoryStream() = default;

bool CXmlMemoryStream::Create() {
    impl_ = std::make_unique<Impl>();
    return true;
}

bool CXmlMemoryStream::Write(const void* bytes, std::size_t count) {
    if (!impl_) return false;
    impl_->Write(bytes, count);
    return true;
}

bool CXmlMemoryStream::Rewind() {
    if (!impl_) return false;
    impl_->position = 0;
    return true;
}

bool CXmlMemoryStream::GetSize(uint64_t* size) {
    if (!impl_ || !size) return false;
    *size = impl_->bytes.size();
    return true;
}

bool CXmlMemoryStream::Read(void* buffer, std::size_t count, std::size_t* read) {
    if (!impl_) return false;
    std::size_t available = impl_->bytes.size() - std::min(impl_->position, impl_->bytes.size());
    std::size_t taken = std::min(count, available);
    if (taken > 0) std::memcpy(buffer, impl_->bytes.data() + impl_->position, taken);
    impl_->position += taken;
    if (read) *read = taken;
    return true;
}

}  // namespace kx::platform
