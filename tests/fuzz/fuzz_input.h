#pragma once
// Takes a fuzzer's bytes apart into the values a target needs. Past the end
// every read gives zeros, so any input is usable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t u32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | u8();
        return v;
    }
    std::uint64_t u64() { return std::uint64_t{u32()} << 32 | u32(); }
    bool bit() { return u8() & 1; }
    // Up to n bytes.
    std::span<const std::uint8_t> bytes(std::size_t n)
    {
        const std::size_t take = n < size_ - pos_ ? n : size_ - pos_;
        std::span<const std::uint8_t> s(data_ + pos_, take);
        pos_ += take;
        return s;
    }
    std::span<const std::uint8_t> rest() { return bytes(size_ - pos_); }
    std::size_t left() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A failed check aborts, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            __builtin_printf("check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);   \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)
