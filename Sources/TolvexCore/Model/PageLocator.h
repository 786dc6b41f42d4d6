#pragma once

#include <QString>

#include <cstdint>
#include <variant>

namespace tolvex {

// The page within a source: a 0-based PDF page index, or a printed page label.
class PageLocator {
public:
    struct PdfIndex {
        std::int64_t index = 0;
    };
    struct PrintedPage {
        QString label;
    };

    static PageLocator pdfIndex(std::int64_t index) { return PageLocator(PdfIndex{index}); }
    static PageLocator printedPage(QString label) { return PageLocator(PrintedPage{std::move(label)}); }

    bool isPdfIndex() const { return std::holds_alternative<PdfIndex>(value_); }
    bool isPrintedPage() const { return std::holds_alternative<PrintedPage>(value_); }
    // Valid only for the matching case.
    std::int64_t index() const { return std::get<PdfIndex>(value_).index; }
    const QString& label() const { return std::get<PrintedPage>(value_).label; }

    const std::variant<PdfIndex, PrintedPage>& value() const { return value_; }

    // Same case with equal payloads; labels compare as canonically equivalent text.
    friend bool operator==(const PageLocator& a, const PageLocator& b);

private:
    explicit PageLocator(std::variant<PdfIndex, PrintedPage> value) : value_(std::move(value)) {}
    std::variant<PdfIndex, PrintedPage> value_;
};

} // namespace tolvex
