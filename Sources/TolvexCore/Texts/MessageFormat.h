#pragma once

#include <QString>

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <variant>
#include <vector>

namespace tolvex {

// One argument for a placeholder of a localized text.
class FormatArgument {
public:
    using Value = std::variant<QString, std::int64_t, std::uint64_t, double>;

    FormatArgument(QString text) : value_(std::move(text)) {}
    FormatArgument(const char* utf8) : value_(QString::fromUtf8(utf8)) {}
    FormatArgument(double number) : value_(number) {}
    template <std::signed_integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char>)
    FormatArgument(T number) : value_(static_cast<std::int64_t>(number))
    {
    }
    template <std::unsigned_integral T>
        requires(!std::same_as<T, bool>)
    FormatArgument(T number) : value_(static_cast<std::uint64_t>(number))
    {
    }

    const Value& value() const { return value_; }

private:
    Value value_;
};

// Fills the printf-style placeholders of a localized text with typed
// arguments. Translated texts never reach printf or QString::asprintf, where
// a wrong specifier in a translation would be undefined behaviour; here a
// placeholder that cannot be filled stays in the text exactly as written.
//
// Placeholders: "%" [position "$"] [length] conversion, where
//  - conversion "@" takes text;
//  - "d", "i" and "u" take an integer (length "h", "hh", "l", "ll", "q", "z",
//    "j" or "t" may precede them: "%ld", "%lld", "%lu"...); the integer is
//    written as its exact decimal value, whatever its signedness;
//  - "f", with an optional precision ".N" (default 6), takes a number
//    (an integer is converted);
//  - "%%" is a percent sign.
// Placeholders without a position take the arguments in order; "%2$@" takes
// the second argument, and does not move the running count of the others.
// An unknown or incomplete specifier, a missing argument and an argument of
// the wrong kind leave the placeholder as written; surplus arguments are
// ignored.
class MessageFormat {
public:
    enum class Kind { text, integer, number, unknown };

    struct Placeholder {
        // 1-based argument position; 0 for an unknown specifier.
        int position = 0;
        Kind kind = Kind::unknown;
        // The specifier as written, e.g. "%1$@".
        QString written;

        friend bool operator==(const Placeholder& a, const Placeholder& b)
        {
            return a.position == b.position && a.kind == b.kind;
        }
    };

    static QString format(const QString& text, const std::vector<FormatArgument>& arguments);
    static QString format(const QString& text, std::initializer_list<FormatArgument> arguments)
    {
        return format(text, std::vector<FormatArgument>(arguments));
    }

    // The placeholders of a text in the order they appear ("%%" is none).
    static std::vector<Placeholder> placeholders(const QString& text);

    // The placeholders as a sorted multiset of (position, kind), which is what
    // two translations of one text must agree on.
    static std::vector<std::pair<int, Kind>> placeholderSignature(const QString& text);

    // Replaces every occurrence of `placeholder` by `replacement` as plain
    // text, for the few texts whose callers substitute literally.
    static QString replacingLiteral(QString text, const QString& placeholder, const QString& replacement);
};

} // namespace tolvex
