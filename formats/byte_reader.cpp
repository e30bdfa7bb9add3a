// Reading a binary file into memory and the bounded reads over it.
#include "formats/byte_reader.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "diagnostics/diagnostics.h"

namespace quorva {

FileBytes readFileBytes(const std::string& path) {
    FileBytes result;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return result;
    result.opened = true;
    // Sized from the file once; a file that grows meanwhile is read on in chunks.
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec) result.bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = std::fread(result.bytes.data(), 1, result.bytes.size(), f);
    result.bytes.resize(got);
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        result.bytes.insert(result.bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return result;
}

void ByteReader::truncated() const {
    if (meshFile_) fatal("MSH file \"%s\" is truncated", fileName_.c_str());
    fatal("Binary QSB file \"%s\" is truncated", fileName_.c_str());
}

void ByteReader::invalidNumber() const {
    if (meshFile_) fatal("Invalid number in MSH file \"%s\" (record 0x%x)", fileName_.c_str(), record_);
    fatal("Invalid number in binary QSB file \"%s\" (record 0x%x)", fileName_.c_str(), record_);
}

std::string ByteReader::decodeName(const std::uint8_t* field) {
    std::size_t length = 0;
    while (length < qsb::NameSize && field[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace quorva
