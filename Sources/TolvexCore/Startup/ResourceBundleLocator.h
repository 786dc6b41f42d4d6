#pragma once

#include "TolvexCore/Texts/ResourceBundle.h"
#include "TolvexCore/Startup/AppBundle.h"

#include <QException>
#include <QStringList>

#include <cstddef>
#include <optional>

namespace tolvex {

// Finds the core library's resource bundle ("Tolvex_TolvexCore.bundle") and
// proves it complete before anything else starts: the three languages are
// there, each string table parses, and every message key has a non-empty text
// in each. For an installed program it also refuses any symbolic link that
// would lead the resource folder, the bundle or a string table elsewhere.
class ResourceBundleLocator {
public:
    // No detail on purpose: start-up reports both with one line.
    class ResourceError : public QException {
    public:
        enum class Code {
            // The bundle is not where an installed program must hold it.
            missing,
            // The bundle was found but its contents fail the check.
            incomplete,
        };

        explicit ResourceError(Code code) noexcept : code_(code) {}
        static ResourceError missing() { return ResourceError(Code::missing); }
        static ResourceError incomplete() { return ResourceError(Code::incomplete); }

        Code code() const noexcept { return code_; }
        const char* what() const noexcept override;
        void raise() const override { throw *this; }
        ResourceError* clone() const override { return new ResourceError(*this); }

        friend bool operator==(const ResourceError& a, const ResourceError& b) noexcept { return a.code_ == b.code_; }

    private:
        Code code_;
    };

    ResourceBundleLocator() = delete;

    // "en", "es", "zh-Hans", in the order they are checked.
    static const QStringList& requiredLanguages();

    // The core library's bundle as the running program finds it (beside a
    // build-tree executable, or in the installed resource folder); looked up
    // once per process. Absent when there is none.
    static std::optional<ResourceBundle> bundledResources();

    // The bundle to use for `appBundle`. A bare executable gets
    // bundledResources() unchecked (missing when there is none); an installed
    // program gets "<prefix>/share/tolvex/Tolvex_TolvexCore.bundle", which
    // must lie there without any link on the way (else missing) and pass
    // validate(). Throws ResourceError.
    static ResourceBundle resolve(const AppBundle& appBundle);

    // The completeness check. Throws ResourceError::incomplete.
    static void validate(const ResourceBundle& bundle);

private:
    // The child lies lexically inside the parent and, with every link
    // resolved, still at the same place inside the resolved parent.
    static bool isUnredirectedChild(const QString& child, const QString& parent);
};

inline std::size_t qHash(const ResourceBundleLocator::ResourceError& error, std::size_t seed = 0) noexcept
{
    return static_cast<std::size_t>(error.code()) ^ seed;
}

} // namespace tolvex
