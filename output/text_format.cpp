#include "output/text_format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace text_format {

namespace {

__extension__ typedef unsigned __int128 Wide;  // a GCC and clang extension, wide enough for 2^53 * 10^9

constexpr std::uint64_t kPowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                             100000, 1000000, 10000000, 100000000, 1000000000};

// Decimal digits of `value` written backwards from `end`; returns the new start.
char* DigitsBackwards(char* end, std::uint64_t value)
{
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

// Right-justifies the `length` bytes at `text` in a field of `width` blanks, writing to `out`.
std::size_t Justify(char* out, const char* text, std::size_t length, int width)
{
    std::size_t pad = width > 0 && static_cast<std::size_t>(width) > length ? width - length : 0;
    std::memset(out, ' ', pad);
    std::memmove(out + pad, text, length);
    return pad + length;
}

// value * 10^precision rounded to an integer as printf rounds (to nearest, ties to even), when
// that can be done exactly in 128-bit arithmetic: the value is a finite double below 2^53 in
// magnitude and the result fits in 64 bits. Returns false otherwise.
bool ScaledAndRounded(double magnitude, int precision, std::uint64_t* scaled)
{
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
    const int biasedExponent = static_cast<int>(bits >> 52);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent;  // magnitude = mantissa * 2^exponent
    if (biasedExponent == 0) {
        exponent = -1074;
    } else {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biasedExponent - 1075;
    }
    if (exponent >= 0) return false;  // 2^53 and above: left to std::to_chars
    const Wide n = static_cast<Wide>(mantissa) * kPowersOfTen[precision];
    const int shift = -exponent;
    if (shift >= 128) {
        *scaled = 0;  // far below half a unit of the last digit
        return true;
    }
    const Wide quotient = n >> shift;
    const Wide remainder = n & ((static_cast<Wide>(1) << shift) - 1);
    const Wide half = static_cast<Wide>(1) << (shift - 1);
    if (quotient >= static_cast<Wide>(UINT64_MAX)) return false;  // more digits than 64 bits hold
    std::uint64_t q = static_cast<std::uint64_t>(quotient);
    if (remainder > half || (remainder == half && (q & 1) != 0)) ++q;
    *scaled = q;
    return true;
}

}  // namespace

std::size_t FormatInt(char* out, int value, int width)
{
    char text[16];
    char* end = text + sizeof text;
    const std::uint64_t magnitude =
        value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                  : static_cast<std::uint64_t>(value);
    char* start = DigitsBackwards(end, magnitude);
    if (value < 0) *--start = '-';
    return Justify(out, start, static_cast<std::size_t>(end - start), width);
}

std::size_t FormatFixed(char* out, double value, int width, int precision)
{
    char text[kMaxNumberText];
    std::size_t length = 0;
    if (std::isnan(value)) {
        const char* word = std::signbit(value) ? "-nan" : "nan";
        length = std::strlen(word);
        std::memcpy(text, word, length);
    } else if (std::isinf(value)) {
        const char* word = value < 0 ? "-inf" : "inf";
        length = std::strlen(word);
        std::memcpy(text, word, length);
    } else {
        std::uint64_t scaled = 0;
        if (ScaledAndRounded(std::fabs(value), precision, &scaled)) {
            char* end = text + sizeof text;
            char* start = end;
            if (precision > 0) {
                std::uint64_t fraction = scaled % kPowersOfTen[precision];
                for (int i = 0; i < precision; ++i) {
                    *--start = static_cast<char>('0' + fraction % 10);
                    fraction /= 10;
                }
                *--start = '.';
            }
            start = DigitsBackwards(start, scaled / kPowersOfTen[precision]);
            if (std::signbit(value)) *--start = '-';  // printf keeps the sign of -0.0 and of -0.001
            length = static_cast<std::size_t>(end - start);
            std::memmove(text, start, length);
        } else {
            const auto result = std::to_chars(text, text + sizeof text, value,
                                              std::chars_format::fixed, precision);
            length = static_cast<std::size_t>(result.ptr - text);
        }
    }
    return Justify(out, text, length, width);
}

void TextWriter::Append(const char* text, std::size_t length)
{
    if (kCapacity - used_ < length) {
        Flush();
        if (length > kCapacity) {
            std::fwrite(text, 1, length, stream_);
            return;
        }
    }
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
}

void TextWriter::Flush()
{
    if (used_ == 0) return;
#ifdef __GLIBC__
    fwrite_unlocked(buffer_, 1, used_, stream_);
#else
    std::fwrite(buffer_, 1, used_, stream_);
#endif
    used_ = 0;
}

}  // namespace text_format
