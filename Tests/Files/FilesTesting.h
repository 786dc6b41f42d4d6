#pragma once

// What the file layer's tests share: the real file layer, files written and
// read behind its back, errno of a failure, and environment variables set for
// one test.

#include "TolvexCore/Files/SystemFileOperations.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace tolvex::testing {

inline const FileOperations& files()
{
    static const FileOperationsRef shared = SystemFileOperations::shared();
    return *shared;
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

inline bool exists(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

inline QStringList entriesOf(const QString& folder)
{
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    return names;
}

// The errno of the std::system_error that `action` throws; -1 when it throws
// nothing, -2 for any other exception.
inline int errnoOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().category(), std::generic_category());
        return error.code().value();
    } catch (...) {
        return -2;
    }
    return -1;
}

inline QUrl urlOf(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

// Sets or clears an environment variable for one test and puts it back after.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<QByteArray> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = QByteArray(old);
        if (value)
            ::setenv(name, value->constData(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (old_)
            ::setenv(name_, old_->constData(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

inline mode_t modeOf(const QString& path)
{
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

inline std::string realPath(const QString& path)
{
    char* resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    const std::string result = resolved ? resolved : "";
    std::free(resolved);
    return result;
}

} // namespace tolvex::testing
