#pragma once
// The Linux memory stream's contents, shared by the reader and the writer.

#include <cstddef>
#include <string>

#include "platform/Xml.h"

namespace kx::platform {

struct CXmlMemoryStream::Impl {
    std::string bytes;
    std::size_t position = 0;

    void Write(const void* data, std::size_t count);
};

}  // namespace kx::platform
