// SHA-256 of a file's bytes, as the job history names a file: the same
// digest any checksum tool gives for it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvela {

class sha256 {
public:
    sha256();
    void add(std::string_view bytes);
    // The digest as 64 lower-case hex digits; the object is spent after.
    std::string hex();

private:
    void block(const std::uint8_t* p);
    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

inline std::string sha256_hex(std::string_view bytes) {
    sha256 s;
    s.add(bytes);
    return s.hex();
}

}  // namespace torvela
