#pragma once

#include <QException>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace tolvex {

// The command line of `tolvex`, after the program path:
//   --check-resources      check the installation and end
//   --data-root PATH       use PATH, one folder directly below "/tmp/tolvex-dev/"
// Each option may appear once, in either order; anything else is refused.
struct StartupOptions {
    // Every fault of the command line, whatever it is. It carries no text and
    // no position on purpose: the program reports all of them with one line.
    class ArgumentError : public QException {
    public:
        enum class Code { invalid };

        explicit ArgumentError(Code code = Code::invalid) noexcept : code_(code) {}
        static ArgumentError invalid() { return ArgumentError(Code::invalid); }

        Code code() const noexcept { return code_; }
        const char* what() const noexcept override { return "invalid"; }
        void raise() const override { throw *this; }
        ArgumentError* clone() const override { return new ArgumentError(*this); }

        friend bool operator==(const ArgumentError& a, const ArgumentError& b) noexcept { return a.code_ == b.code_; }

    private:
        Code code_;
    };

    // The only folder below which "--data-root" may point, with its trailing slash.
    static constexpr const char* developmentFolder = "/tmp/tolvex-dev/";

    bool checkResources = false;
    // The validated data root given with "--data-root"; a local file URL
    // without a trailing slash.
    std::optional<QUrl> developmentRoot;

    // Throws ArgumentError::invalid for any fault.
    static StartupOptions parse(const QStringList& arguments);

    // Accepts one folder directly below the development folder, with no
    // symbolic link on the way (neither the development folder nor the folder
    // itself may be one), and returns it resolved and standardized; the folder
    // need not exist. `resolve` turns a file URL into one with every symbolic
    // link resolved and standardized; `parse` passes the real resolution,
    // tests may pass their own. Throws ArgumentError::invalid.
    static QUrl validateDevelopmentRoot(const QString& value, const std::function<QUrl(const QUrl&)>& resolve);

    friend bool operator==(const StartupOptions&, const StartupOptions&) = default;
};

} // namespace tolvex
