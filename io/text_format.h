// Formatted text output for the run's files and progress lines, byte for byte what the C library's
// printf writes for the same format string, but with the format parsed at compile time and the
// numbers converted by exact integer arithmetic (std::to_chars for the rare values beyond it).
//
// Supported conversions: %d, %f and %s with an optional field width and, for %f, a precision;
// no flags. A format string that uses anything else, or arguments that do not match the
// conversions, fail to compile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <tuple>
#include <type_traits>
#include <utility>

namespace text_format {

// A string literal usable as a template argument.
template <std::size_t N>
struct FormatString {
    char text[N];
    constexpr FormatString(const char (&literal)[N])
    {
        for (std::size_t i = 0; i < N; ++i) text[i] = literal[i];
    }
    static constexpr std::size_t size = N - 1;  // without the terminating NUL
};

enum class Kind : unsigned char { Literal, Int, Fixed, String };

struct Segment {
    Kind kind = Kind::Literal;
    unsigned short begin = 0;   // literal text: offset and length in the format string
    unsigned short length = 0;
    int width = 0;
    int precision = 6;
    int argument = 0;           // conversions: index of the argument they consume
};

template <FormatString F>
constexpr std::size_t CountSegments()
{
    std::size_t count = 0;
    bool inLiteral = false;
    for (std::size_t i = 0; i < F.size; ++i) {
        if (F.text[i] == '%') {
            ++count;
            inLiteral = false;
            ++i;
            while (i < F.size && ((F.text[i] >= '0' && F.text[i] <= '9') || F.text[i] == '.')) ++i;
            if (i >= F.size || (F.text[i] != 'd' && F.text[i] != 'f' && F.text[i] != 's')) {
                throw "unsupported conversion in format string";  // not a constant expression
            }
        } else if (!inLiteral) {
            ++count;
            inLiteral = true;
        }
    }
    return count;
}

template <FormatString F>
constexpr auto ParseFormat()
{
    std::array<Segment, CountSegments<F>()> segments{};
    std::size_t n = 0;
    int argument = 0;
    for (std::size_t i = 0; i < F.size;) {
        Segment s;
        if (F.text[i] == '%') {
            ++i;
            while (F.text[i] >= '0' && F.text[i] <= '9') s.width = s.width * 10 + (F.text[i++] - '0');
            if (F.text[i] == '.') {
                ++i;
                s.precision = 0;
                while (F.text[i] >= '0' && F.text[i] <= '9') s.precision = s.precision * 10 + (F.text[i++] - '0');
            }
            s.kind = F.text[i] == 'd' ? Kind::Int : F.text[i] == 'f' ? Kind::Fixed : Kind::String;
            s.argument = argument++;
            ++i;
        } else {
            s.begin = static_cast<unsigned short>(i);
            while (i < F.size && F.text[i] != '%') ++i;
            s.length = static_cast<unsigned short>(i - s.begin);
        }
        segments[n++] = s;
    }
    return segments;
}

template <typename T>
constexpr Kind KindOf()
{
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, int> || std::is_same_v<U, long> || std::is_same_v<U, long long>)
        return Kind::Int;
    else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) return Kind::Fixed;
    else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) return Kind::String;
    else return Kind::Literal;  // never matches a conversion
}

template <FormatString F, typename... Args>
constexpr bool ArgumentsMatch()
{
    constexpr auto segments = ParseFormat<F>();
    constexpr Kind given[] = {KindOf<Args>()..., Kind::Literal};
    std::size_t used = 0;
    for (const Segment& s : segments) {
        if (s.kind == Kind::Literal) continue;
        if (used >= sizeof...(Args) || given[used] != s.kind) return false;
        ++used;
    }
    return used == sizeof...(Args);
}

// Room one conversion of a number may use: %f of the largest double with a precision of up to 6
// digits and a width of up to 99, plus slack for the fixed-size copies of short numbers.
inline constexpr std::size_t kMaxNumberText = 420;

// Writes the number as the conversions would into `out`, which must have kMaxNumberText bytes of
// room (bytes after the result may be overwritten); returns the number of bytes of the result.
std::size_t FormatInt(char* out, long long value, int width);
template <int Precision>  // 0 to 6
std::size_t FormatFixed(char* out, double value, int width);

// Called when a stream does not take all the bytes handed to it (disk full, closed pipe, I/O
// error); it may throw to end the run. Without one, the stream's error indicator stays set for whoever
// closes the stream.
using WriteFailureHandler = void (*)(std::FILE* stream);
void SetWriteFailureHandler(WriteFailureHandler handler);

// Collects the text of one routine's output and hands it to the stream in one piece.
class TextWriter {
public:
    explicit TextWriter(std::FILE* stream) : stream_(stream) {}
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;
    // Hands over what is left; a failed write may throw from here (the write-failure handler),
    // but not while another exception unwinds the stack: that run is ending anyway.
    ~TextWriter() noexcept(false)
    {
        if (std::uncaught_exceptions() == 0) Flush();
    }

    template <FormatString F, typename... Args>
    void Print(const Args&... args)
    {
        static_assert(ArgumentsMatch<F, Args...>(), "arguments do not match the format string");
        static constexpr auto segments = ParseFormat<F>();
        const auto values = std::forward_as_tuple(args...);
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (Emit<F, segments[I]>(values), ...);
        }(std::make_index_sequence<segments.size()>{});
    }

    void Flush();

private:
    static constexpr std::size_t kCapacity = 8192;

    template <FormatString F, Segment S, typename Tuple>
    void Emit(const Tuple& values)
    {
        if constexpr (S.kind == Kind::Literal) {
            if (kCapacity - used_ >= S.length) {
                std::memcpy(buffer_ + used_, F.text + S.begin, S.length);  // a constant-size copy
                used_ += S.length;
            } else {
                Append(F.text + S.begin, S.length);
            }
        } else if constexpr (S.kind == Kind::Int) {
            Reserve(kMaxNumberText);
            used_ += FormatInt(buffer_ + used_, static_cast<long long>(std::get<S.argument>(values)),
                               S.width);
        } else if constexpr (S.kind == Kind::Fixed) {
            static_assert(S.precision <= 6 && S.width <= 99, "precision or width out of range");
            Reserve(kMaxNumberText);
            used_ += FormatFixed<S.precision>(
                buffer_ + used_, static_cast<double>(std::get<S.argument>(values)), S.width);
        } else {
            const char* text = std::get<S.argument>(values);
            const std::size_t length = std::strlen(text);
            for (std::size_t pad = length; pad < static_cast<std::size_t>(S.width); ++pad) Append(" ", 1);
            Append(text, length);
        }
    }

    void Reserve(std::size_t n)
    {
        if (kCapacity - used_ < n) Flush();
    }

    void Append(const char* text, std::size_t length);

    std::FILE* stream_;
    std::size_t used_ = 0;
    char buffer_[kCapacity];
};

}  // namespace text_format
