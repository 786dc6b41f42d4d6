#include "TolvexCore/Content/ContentDigest.h"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

namespace tolvex {

struct ContentDigest::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

ContentDigest::ContentDigest() : context_(std::make_unique<Context>())
{
    context_->md = EVP_MD_CTX_new();
    if (!context_->md || EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

ContentDigest::~ContentDigest() = default;

void ContentDigest::update(const char* data, std::size_t size)
{
    if (EVP_DigestUpdate(context_->md, data, size) != 1)
        throw std::runtime_error("SHA-256 failed");
}

QString ContentDigest::finish()
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> hash{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->md, hash.data(), &length) != 1)
        throw std::runtime_error("SHA-256 failed");
    static constexpr char digits[] = "0123456789abcdef";
    QString text(static_cast<qsizetype>(length) * 2, Qt::Uninitialized);
    QChar* out = text.data();
    for (unsigned int i = 0; i < length; ++i) {
        *out++ = QLatin1Char(digits[hash[i] >> 4]);
        *out++ = QLatin1Char(digits[hash[i] & 0x0F]);
    }
    return text;
}

} // namespace tolvex
