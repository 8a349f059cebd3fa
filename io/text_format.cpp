#include "io/text_format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace text_format {

namespace {

__extension__ typedef unsigned __int128 Wide;  // a GCC and clang extension, wide enough for 2^53 * 10^9

constexpr std::uint64_t kPowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                             100000, 1000000, 10000000, 100000000, 1000000000};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Decimal digits of `value` written backwards from `end`, two at a time; returns the new start.
char* DigitsBackwards(char* end, std::uint64_t value)
{
    while (value >= 100) {
        const std::uint64_t pair = value % 100;
        value /= 100;
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * pair, 2);
    }
    if (value >= 10) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * value, 2);
    } else {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

// Exactly `Precision` decimal digits of `fraction` written backwards from `end`.
template <int Precision>
char* FractionBackwards(char* end, std::uint64_t fraction)
{
    for (int i = 0; i < Precision / 2; ++i) {
        const std::uint64_t pair = fraction % 100;
        fraction /= 100;
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * pair, 2);
    }
    if constexpr (Precision % 2 == 1) *--end = static_cast<char>('0' + fraction % 10);
    return end;
}

// Right-justifies the `length` bytes at `text` in a field of `width` blanks, writing to `out`.
// Short numbers take a branch-free path of fixed-size copies: `text` must then have 32 readable
// bytes and `out` room for 48.
std::size_t Justify(char* out, const char* text, std::size_t length, int width)
{
    const std::size_t field = static_cast<std::size_t>(width);
    const std::size_t pad = width > 0 && field > length ? field - length : 0;
    if (width <= 16 && length <= 32) {
        std::memset(out, ' ', 16);
        std::memcpy(out + pad, text, 32);
    } else {
        std::memset(out, ' ', pad);
        std::memmove(out + pad, text, length);
    }
    return pad + length;
}

// value * 10^precision rounded to an integer as printf rounds (to nearest, ties to even), when
// that can be done exactly in 128-bit arithmetic: the value is a finite double below 2^53 in
// magnitude and the result fits in 64 bits. Returns false otherwise.
template <int Precision>
bool ScaledAndRounded(double magnitude, std::uint64_t* scaled)
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
    const Wide n = static_cast<Wide>(mantissa) * kPowersOfTen[Precision];
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

std::size_t FormatInt(char* out, long long value, int width)
{
    char text[64];
    char* end = text + 24;  // the digits end here; the bytes after it are copy slack
    const std::uint64_t magnitude = value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                              : static_cast<std::uint64_t>(value);
    char* start = DigitsBackwards(end, magnitude);
    if (value < 0) *--start = '-';
    return Justify(out, start, static_cast<std::size_t>(end - start), width);
}

// The last conversions of each precision, by value: the survey prints the same Bragg angle,
// structure factor, intensity, curve coefficients and lattice parameter on row after row.
struct RecentConversion {
    std::uint64_t bits = 0;
    int width = -1;  // no conversion stored yet
    unsigned length = 0;
    char text[32];
};

template <int Precision>
std::size_t FormatFixedUncached(char* out, double value, int width);

template <int Precision>
std::size_t FormatFixed(char* out, double value, int width)
{
    if constexpr (Precision == 0) {
        // Whole numbers (Miller indices, mostly) need no rounding at all.
        const double magnitude = std::fabs(value);
        if (magnitude < 4294967296.0) {
            const auto whole = static_cast<std::uint64_t>(magnitude);
            if (static_cast<double>(whole) == magnitude) {
                char text[64];
                char* end = text + 32;  // the bytes after it are copy slack
                char* first = DigitsBackwards(end, whole);
                if (std::signbit(value)) *--first = '-';
                return Justify(out, first, static_cast<std::size_t>(end - first), width);
            }
        }
    }
    // One cache a thread: writers on several threads (the Python module's callers) never share it.
    thread_local RecentConversion recent[256];
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    RecentConversion& slot = recent[(bits ^ (bits >> 29) ^ (bits >> 47)) & 255];
    if (slot.bits == bits && slot.width == width) {
        std::memcpy(out, slot.text, sizeof slot.text);
        return slot.length;
    }
    const std::size_t length = FormatFixedUncached<Precision>(out, value, width);
    if (length <= sizeof slot.text) {
        slot.bits = bits;
        slot.width = width;
        slot.length = static_cast<unsigned>(length);
        std::memcpy(slot.text, out, sizeof slot.text);
    }
    return length;
}

template <int Precision>
std::size_t FormatFixedUncached(char* out, double value, int width)
{
    char text[kMaxNumberText + 32];  // 32 bytes of slack for the short copy in Justify
    const char* start = text;
    std::size_t length = 0;
    std::uint64_t scaled = 0;
    if (std::isnan(value)) {
        const char* word = std::signbit(value) ? "-nan" : "nan";
        length = std::strlen(word);
        std::memcpy(text, word, length);
    } else if (std::isinf(value)) {
        const char* word = value < 0 ? "-inf" : "inf";
        length = std::strlen(word);
        std::memcpy(text, word, length);
    } else if (ScaledAndRounded<Precision>(std::fabs(value), &scaled)) {
        char* end = text + 64;  // at most 20 integer digits, a point and 9 decimals before it
        char* first = end;
        if constexpr (Precision > 0) {
            first = FractionBackwards<Precision>(first, scaled % kPowersOfTen[Precision]);
            *--first = '.';
        }
        first = DigitsBackwards(first, scaled / kPowersOfTen[Precision]);
        if (std::signbit(value)) *--first = '-';  // printf keeps the sign of -0.0 and of -0.001
        start = first;
        length = static_cast<std::size_t>(end - first);
    } else {
        const auto result =
            std::to_chars(text, text + kMaxNumberText, value, std::chars_format::fixed, Precision);
        length = static_cast<std::size_t>(result.ptr - text);
    }
    return Justify(out, start, length, width);
}

template std::size_t FormatFixed<0>(char*, double, int);
template std::size_t FormatFixed<1>(char*, double, int);
template std::size_t FormatFixed<2>(char*, double, int);
template std::size_t FormatFixed<3>(char*, double, int);
template std::size_t FormatFixed<4>(char*, double, int);
template std::size_t FormatFixed<5>(char*, double, int);
template std::size_t FormatFixed<6>(char*, double, int);

namespace {
// What a failed write does, set once by main for the whole process: the writers of every file and
// of standard output, deep in the survey and the planning, report through it without each caller
// handing it down.
WriteFailureHandler g_writeFailure = nullptr;

void Write(const char* text, std::size_t length, std::FILE* stream)
{
#ifdef __GLIBC__
    const std::size_t written = fwrite_unlocked(text, 1, length, stream);
#else
    const std::size_t written = std::fwrite(text, 1, length, stream);
#endif
    if (written != length && g_writeFailure != nullptr) g_writeFailure(stream);
}
}  // namespace

void SetWriteFailureHandler(WriteFailureHandler handler) { g_writeFailure = handler; }

void TextWriter::Append(const char* text, std::size_t length)
{
    if (kCapacity - used_ < length) {
        Flush();
        if (length > kCapacity) {
            Write(text, length, stream_);
            return;
        }
    }
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
}

void TextWriter::Flush()
{
    if (used_ == 0) return;
    const std::size_t length = used_;
    used_ = 0;
    Write(buffer_, length, stream_);
}

}  // namespace text_format
