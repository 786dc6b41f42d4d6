#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace tolvex::fixture {

// Writes `bytes` to `path`, creating the folders on the way.
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath())) << path.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A string table in the classic format from key/value pairs (no escaping:
// the tests pass plain texts).
inline QByteArray table(std::initializer_list<std::pair<const char*, const char*>> entries)
{
    QByteArray bytes;
    for (const auto& [key, value] : entries)
        bytes += QByteArray("\"") + key + "\" = \"" + value + "\";\n";
    return bytes;
}

// A bundle folder in a temporary directory, with "Localizable.strings" per
// language folder as the test writes them.
class TemporaryBundle {
public:
    TemporaryBundle() { EXPECT_TRUE(directory_.isValid()); }

    QString path() const { return directory_.filePath(QStringLiteral("Test.bundle")); }

    void addLanguage(const QString& code, const QByteArray& contents) const
    {
        writeFile(path() + QLatin1Char('/') + code + QStringLiteral(".lproj/Localizable.strings"), contents);
    }
    void addBaseTable(const QByteArray& contents) const
    {
        writeFile(path() + QStringLiteral("/Localizable.strings"), contents);
    }

private:
    QTemporaryDir directory_;
};

} // namespace tolvex::fixture
