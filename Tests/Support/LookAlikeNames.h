#pragma once

// Two files side by side whose names read alike: one named with the bytes
// FF FE (never UTF-8) and ".png", one named with two U+FFFD characters and
// ".png", which is how a lossy decoding reads the first. Each holds a PNG of
// its own, so that a reader that takes one name for the other shows it.

#include "Support/ImageFixtures.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace tolvex::test {

struct LookAlikeNames {
    // The URI-list entry that names the file of raw bytes ("%FF%FE.png").
    QByteArray uri;
    // The bytes of the file named with FF FE, and of its look-alike.
    QByteArray rawBytes;
    QByteArray lookAlikeBytes;
    // The look-alike's path, a valid UTF-8 name: also how the raw name reads.
    QString lookAlikePath;

    // Makes both in `folder` (a UTF-8 path); withTwin false leaves out the look-alike.
    static LookAlikeNames make(const QString& folder, bool withTwin = true)
    {
        LookAlikeNames made;
        made.rawBytes = encodeImage(patternImage(6, 4), "png");
        made.lookAlikeBytes = encodeImage(patternImage(3, 9), "png");
        const QByteArray rawPath = QFile::encodeName(folder) + "/\xFF\xFE.png";
        write(rawPath, made.rawBytes);
        made.lookAlikePath = folder + QStringLiteral("/\uFFFD\uFFFD.png");
        if (withTwin)
            write(QFile::encodeName(made.lookAlikePath), made.lookAlikeBytes);
        made.uri = QUrl::fromLocalFile(folder).toEncoded() + "/%FF%FE.png";
        return made;
    }

private:
    static void write(const QByteArray& path, const QByteArray& bytes)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << path.toHex().toStdString();
        ASSERT_EQ(::write(fd, bytes.constData(), std::size_t(bytes.size())), bytes.size());
        ::close(fd);
    }
};

} // namespace tolvex::test
