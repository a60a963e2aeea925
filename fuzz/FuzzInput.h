#pragma once
// Reads typed values off the fuzzer's bytes; past the end everything is 0.
#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size)
        : p_(data)
        , left_(size)
    { }
    bool empty() const { return left_ == 0; }
    template <typename T> T take()
    {
        T v{};
        const size_t n = left_ < sizeof v ? left_ : sizeof v;
        std::memcpy(&v, p_, n);
        p_ += n;
        left_ -= n;
        return v;
    }
    uint8_t byte() { return take<uint8_t>(); }
    // Up to max bytes, the length given by the input.
    const char *bytes(size_t max, size_t &n)
    {
        n = byte() % (max + 1);
        if (n > left_)
            n = left_;
        const char *out = reinterpret_cast<const char *>(p_);
        p_ += n;
        left_ -= n;
        return out;
    }

private:
    const uint8_t *p_;
    size_t left_;
};
