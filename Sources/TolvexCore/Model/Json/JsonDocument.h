#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex::Json {

class JsonDocument;

// A read-only handle on one value of a JsonDocument.
class JsonValue {
public:
    enum class Type : std::uint8_t { null, boolean, signedInteger, unsignedInteger, floating, string, array, object };

    JsonValue(const JsonDocument* document, std::uint32_t index) : document_(document), index_(index) {}

    Type type() const;
    bool isNull() const { return type() == Type::null; }
    bool isBoolean() const { return type() == Type::boolean; }
    bool isNumber() const;
    bool isString() const { return type() == Type::string; }
    bool isArray() const { return type() == Type::array; }
    bool isObject() const { return type() == Type::object; }

    bool boolean() const;
    std::int64_t signedInteger() const;
    std::uint64_t unsignedInteger() const;
    double floating() const;
    // A number that is not an integer nlohmann's lexer could hold (a fraction,
    // an exponent, or beyond 64 bits): its text as written in the document.
    std::string_view numberText() const;
    // Any number as a double.
    double number() const;
    std::string_view string() const;

    // Arrays and objects: the number of elements or members.
    std::uint32_t size() const;
    JsonValue element(std::uint32_t position) const;
    // Objects: the member's value; the last one wins when a key repeats. False when absent.
    bool find(std::string_view key, JsonValue& value) const;
    bool contains(std::string_view key) const;

private:
    const JsonDocument* document_;
    std::uint32_t index_;
};

// A parsed JSON document in a few flat arrays. The whole workspace is read
// at every load; a node-per-allocation tree spends more time allocating and
// freeing than parsing, so values are kept in contiguous storage instead.
// The text is checked by nlohmann's lexer (RFC 8259, UTF-8 validated).
class JsonDocument {
public:
    // Throws DecodingError (dataCorrupted) when the bytes are not JSON.
    static JsonDocument parse(const QByteArray& bytes);

    JsonValue root() const { return JsonValue(this, 0); }

private:
    friend class JsonValue;
    friend class JsonDocumentBuilder;

    struct Node {
        JsonValue::Type type = JsonValue::Type::null;
        union {
            bool boolean;
            std::int64_t signedInteger;
            std::uint64_t unsignedInteger;
            double floating;
        };
        // Arrays: into elements_; objects: into members_; strings and
        // floating numbers: their text in text_.
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };
    struct Member {
        std::uint32_t keyOffset;
        std::uint32_t keySize;
        std::uint32_t value;
    };

    std::string_view text(std::uint32_t offset, std::uint32_t size) const
    {
        return std::string_view(text_).substr(offset, size);
    }

    std::vector<Node> nodes_;
    // Every string, key and floating number's text, one after the other:
    // one buffer instead of an allocation per token.
    std::string text_;
    std::vector<std::uint32_t> elements_;
    std::vector<Member> members_;
};

} // namespace tolvex::Json
