#pragma once

#include <QHashFunctions>
#include <QString>
#include <QUuid>

namespace tolvex {

// What a card's picture and text are made from: a material's version and
// the content digest the store verified for its file. A picture is made once
// per key, in memory and in the thumbnail cache on disk.
struct PresentationKey {
    QUuid materialID;
    QUuid versionID;
    QString digest;
    friend bool operator==(const PresentationKey&, const PresentationKey&) = default;
};

inline size_t qHash(const PresentationKey& key, size_t seed = 0) noexcept
{
    return qHashMulti(seed, key.materialID, key.versionID, key.digest);
}

} // namespace tolvex
