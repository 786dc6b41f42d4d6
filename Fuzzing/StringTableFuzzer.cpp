// Feeds arbitrary bytes to the string-table parser: it either refuses them
// with its own error and a line inside the input, or gives a table whose
// every value it can read back from a table written out in its own syntax.
#include "TolvexCore/Texts/StringTable.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tolvex;

namespace {

QByteArray quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QStringLiteral("\\\""); break;
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        // \u0000 rather than \0, which a following digit would turn into an error.
        case u'\0': out += QStringLiteral("\\u0000"); break;
        default: out += c; break;
        }
    }
    out += u'"';
    return out.toUtf8();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    StringTable table;
    try {
        table = StringTable::parse(bytes);
    } catch (const StringTable::ParseError& error) {
        if (error.line() < 1 || error.line() > bytes.count('\n') + bytes.count('\r') + 1) {
            std::fprintf(stderr, "error line %d outside the input\n", error.line());
            std::abort();
        }
        return 0;
    }
    // Lone surrogates cannot be written as UTF-8; the parser never makes them.
    QByteArray written;
    for (auto it = table.entries().cbegin(); it != table.entries().cend(); ++it) {
        if (!it.key().isValidUtf16() || !it.value().isValidUtf16()) {
            std::fprintf(stderr, "parser produced invalid UTF-16\n");
            std::abort();
        }
        written += quoted(it.key()) + " = " + quoted(it.value()) + ";\n";
    }
    const StringTable again = StringTable::parse(written);
    if (again.entries() != table.entries()) {
        std::fprintf(stderr, "table written out reads differently:\n%s\n", written.constData());
        std::abort();
    }
    return 0;
}
