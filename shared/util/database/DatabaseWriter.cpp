#include "util/database/DatabaseWriter.h"

#include <limits>

#include "debug/assertion.h"

namespace util::database {

void DatabaseWriter::putString(std::string_view text) {
    putLength(text.size());
    putBytes(text.data(), text.size());
}

void DatabaseWriter::putCharStream(std::string_view bytes) {
    putLength(bytes.size());
    putBytes(bytes.data(), bytes.size());
}

void DatabaseWriter::putBytes(const void* bytes, std::size_t size) {
    _out->append(static_cast<const char*>(bytes), size);
}

void DatabaseWriter::reserve(std::size_t size) {
    _out->reserve(_out->size() + size);
}

void DatabaseWriter::putLength(std::size_t size) {
    QM_ASSERT_TEXT(size <= std::numeric_limits<std::uint32_t>::max(),
                   "size <= std::numeric_limits<std::uint32_t>::max()",
                   "A stored string or byte stream cannot be longer than 4 GiB");
    putPrimitive(static_cast<std::uint32_t>(size));
}

}  // namespace util::database
