#pragma once

#include <QString>

#include <cstddef>
#include <memory>

namespace tolvex {

// SHA-256 fed piece by piece, giving the same text as ContentStore::digest of
// all the pieces at once: a file is hashed as it is read, through a small
// buffer, and never has to be held whole.
class ContentDigest {
public:
    ContentDigest();
    ~ContentDigest();
    ContentDigest(const ContentDigest&) = delete;
    ContentDigest& operator=(const ContentDigest&) = delete;

    void update(const char* data, std::size_t size);
    // 64 lower-case hexadecimal digits; ends the digest.
    QString finish();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace tolvex
