#include "TolvexCore/Model/Json/JsonDocument.h"

#include "TolvexCore/Model/JsonCoding.h"

#include <nlohmann/json.hpp>

namespace tolvex::Json {

JsonValue::Type JsonValue::type() const { return document_->nodes_[index_].type; }

bool JsonValue::isNumber() const
{
    const Type t = type();
    return t == Type::signedInteger || t == Type::unsignedInteger || t == Type::floating;
}

bool JsonValue::boolean() const { return document_->nodes_[index_].boolean; }
std::int64_t JsonValue::signedInteger() const { return document_->nodes_[index_].signedInteger; }
std::uint64_t JsonValue::unsignedInteger() const { return document_->nodes_[index_].unsignedInteger; }
double JsonValue::floating() const { return document_->nodes_[index_].floating; }

std::string_view JsonValue::numberText() const
{
    const auto& node = document_->nodes_[index_];
    return document_->text(node.first, node.count);
}

double JsonValue::number() const
{
    const auto& node = document_->nodes_[index_];
    switch (node.type) {
    case Type::signedInteger: return static_cast<double>(node.signedInteger);
    case Type::unsignedInteger: return static_cast<double>(node.unsignedInteger);
    case Type::floating: return node.floating;
    default: return 0;
    }
}

std::string_view JsonValue::string() const
{
    const auto& node = document_->nodes_[index_];
    return document_->text(node.first, node.count);
}

std::uint32_t JsonValue::size() const { return document_->nodes_[index_].count; }

JsonValue JsonValue::element(std::uint32_t position) const
{
    const auto& node = document_->nodes_[index_];
    return JsonValue(document_, document_->elements_[node.first + position]);
}

bool JsonValue::find(std::string_view key, JsonValue& value) const
{
    const auto& node = document_->nodes_[index_];
    for (std::uint32_t i = node.count; i > 0; --i) {
        const auto& member = document_->members_[node.first + i - 1];
        if (document_->text(member.keyOffset, member.keySize) == key) {
            value = JsonValue(document_, member.value);
            return true;
        }
    }
    return false;
}

bool JsonValue::contains(std::string_view key) const
{
    JsonValue ignored = *this;
    return find(key, ignored);
}

// Receives nlohmann's parse events and lays the values out flat. Members and
// elements of a container are collected on a scratch stack and copied into
// place when the container ends, so each container's children are contiguous.
class JsonDocumentBuilder {
public:
    using Type = JsonValue::Type;
    using number_integer_t = nlohmann::json::number_integer_t;
    using number_unsigned_t = nlohmann::json::number_unsigned_t;
    using number_float_t = nlohmann::json::number_float_t;
    using string_t = nlohmann::json::string_t;
    using binary_t = nlohmann::json::binary_t;

    explicit JsonDocumentBuilder(JsonDocument& document) : doc_(document) {}

    bool null() { return value(JsonDocument::Node{}); }
    bool boolean(bool v)
    {
        JsonDocument::Node node;
        node.type = Type::boolean;
        node.boolean = v;
        return value(node);
    }
    bool number_integer(number_integer_t v)
    {
        JsonDocument::Node node;
        node.type = Type::signedInteger;
        node.signedInteger = v;
        return value(node);
    }
    bool number_unsigned(number_unsigned_t v)
    {
        JsonDocument::Node node;
        node.type = Type::unsignedInteger;
        node.unsignedInteger = v;
        return value(node);
    }
    bool number_float(number_float_t v, const string_t& text)
    {
        JsonDocument::Node node;
        node.type = Type::floating;
        node.floating = v;
        // Kept so that an integer field reads the written digits, not the rounded double.
        keep(text, node.first, node.count);
        return value(node);
    }
    bool string(string_t& v)
    {
        JsonDocument::Node node;
        node.type = Type::string;
        // Copied, not taken: the lexer keeps reusing its buffer.
        keep(v, node.first, node.count);
        return value(node);
    }
    bool binary(binary_t&) { return false; }

    bool start_object(std::size_t) { return open(Type::object); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Type::array); }
    bool end_array() { return close(); }
    bool key(string_t& k)
    {
        keep(k, pendingKey_.offset, pendingKey_.size);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    struct Key {
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
    };
    struct Frame {
        std::uint32_t node;
        bool isObject;
        std::size_t scratchStart;
        Key key; // the key this container is stored under in its parent
    };

    void keep(const string_t& text, std::uint32_t& offset, std::uint32_t& size)
    {
        offset = static_cast<std::uint32_t>(doc_.text_.size());
        size = static_cast<std::uint32_t>(text.size());
        doc_.text_.append(text);
    }

    bool value(const JsonDocument::Node& node)
    {
        const auto index = static_cast<std::uint32_t>(doc_.nodes_.size());
        doc_.nodes_.push_back(node);
        attach(index, pendingKey_);
        return true;
    }

    void attach(std::uint32_t index, Key key)
    {
        if (stack_.empty())
            return;
        if (stack_.back().isObject)
            scratchMembers_.push_back({key.offset, key.size, index});
        else
            scratchElements_.push_back(index);
    }

    bool open(Type type)
    {
        JsonDocument::Node node;
        node.type = type;
        const auto index = static_cast<std::uint32_t>(doc_.nodes_.size());
        doc_.nodes_.push_back(node);
        const bool isObject = type == Type::object;
        stack_.push_back({index, isObject, isObject ? scratchMembers_.size() : scratchElements_.size(), pendingKey_});
        return true;
    }

    bool close()
    {
        const Frame frame = stack_.back();
        stack_.pop_back();
        auto& node = doc_.nodes_[frame.node];
        if (frame.isObject) {
            node.first = static_cast<std::uint32_t>(doc_.members_.size());
            node.count = static_cast<std::uint32_t>(scratchMembers_.size() - frame.scratchStart);
            doc_.members_.insert(doc_.members_.end(), scratchMembers_.begin() + frame.scratchStart, scratchMembers_.end());
            scratchMembers_.resize(frame.scratchStart);
        } else {
            node.first = static_cast<std::uint32_t>(doc_.elements_.size());
            node.count = static_cast<std::uint32_t>(scratchElements_.size() - frame.scratchStart);
            doc_.elements_.insert(doc_.elements_.end(), scratchElements_.begin() + frame.scratchStart, scratchElements_.end());
            scratchElements_.resize(frame.scratchStart);
        }
        attach(frame.node, frame.key);
        return true;
    }

    JsonDocument& doc_;
    std::vector<Frame> stack_;
    std::vector<JsonDocument::Member> scratchMembers_;
    std::vector<std::uint32_t> scratchElements_;
    Key pendingKey_;
};

JsonDocument JsonDocument::parse(const QByteArray& bytes)
{
    JsonDocument document;
    // A rough guess of one node per 24 bytes of text saves most regrowth.
    const auto estimate = static_cast<std::size_t>(bytes.size() / 24 + 4);
    document.nodes_.reserve(estimate);
    document.text_.reserve(static_cast<std::size_t>(bytes.size()));
    JsonDocumentBuilder builder(document);
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(bytes.cbegin(), bytes.cend(), &builder);
    } catch (const nlohmann::json::exception&) {
        parsed = false;
    }
    if (!parsed || document.nodes_.empty())
        throw DecodingError(DecodingError::Kind::dataCorrupted, QString(),
            QStringLiteral("The given data was not valid JSON."));
    return document;
}

} // namespace tolvex::Json
