// The record layouts of the ZIP format (PKWARE's APPNOTE 6.3) that the reader and the writer share.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace zipcore::format {

inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr std::uint32_t kEndOfCentralDirectorySignature = 0x06054b50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndOfCentralDirectorySize = 22;
inline constexpr std::size_t kZip64EndSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kMaxCommentLength = 0xFFFF;

inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint16_t kUnicodePathExtraId = 0x7075;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;

inline constexpr std::uint16_t kFlagEncrypted = 1 << 0;
inline constexpr std::uint16_t kFlagDataDescriptor = 1 << 3;
inline constexpr std::uint16_t kFlagStrongEncryption = 1 << 6;
inline constexpr std::uint16_t kFlagUtf8 = 1 << 11;
inline constexpr std::uint16_t kFlagMaskedHeaders = 1 << 13;

inline constexpr std::uint16_t kVersionDefault = 20;  // deflate, directories
inline constexpr std::uint16_t kVersionZip64 = 45;
// APPNOTE 6.3, host 11 (Windows NTFS). Not host 0: Debian's unzip reads host-0 names as OEM text even when
// general-purpose bit 11 says they are UTF-8.
inline constexpr std::uint16_t kVersionMadeBy = (11 << 8) | 63;

inline constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kMax16 = 0xFFFF;

inline std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t get64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}

// Builds a record in little-endian order.
class RecordBuilder {
public:
    RecordBuilder& u16(std::uint64_t value) { return put(value, 2); }
    RecordBuilder& u32(std::uint64_t value) { return put(value, 4); }
    RecordBuilder& u64(std::uint64_t value) { return put(value, 8); }
    RecordBuilder& bytes(std::string_view text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    RecordBuilder& append(const RecordBuilder& other) {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
        return *this;
    }
    const std::vector<std::uint8_t>& data() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

private:
    RecordBuilder& put(std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        return *this;
    }
    std::vector<std::uint8_t> bytes_;
};

}  // namespace zipcore::format
