#include "TolvexCore/Images/UniformType.h"

#include <gtest/gtest.h>

using namespace tolvex;

namespace {

QString identifierForExtension(const char* extension)
{
    const auto type = UniformType::forFilenameExtension(QString::fromLatin1(extension));
    return type ? type->identifier : QStringLiteral("<none>");
}

QString identifierForMime(const char* mime)
{
    const auto type = UniformType::forMimeType(QString::fromLatin1(mime));
    return type ? type->identifier : QStringLiteral("<none>");
}

const char* const kImageIdentifiers[] = {"public.png", "public.jpeg", "public.heic", "public.heif", "public.avif",
    "public.tiff", "com.compuserve.gif", "org.webmproject.webp", "com.microsoft.bmp"};

} // namespace

TEST(UniformTypeTest, FindsTypesByFilenameExtensionIgnoringCase)
{
    EXPECT_EQ(identifierForExtension("png"), u"public.png");
    EXPECT_EQ(identifierForExtension("JPG"), u"public.jpeg");
    EXPECT_EQ(identifierForExtension("jpeg"), u"public.jpeg");
    EXPECT_EQ(identifierForExtension("Jpe"), u"public.jpeg");
    EXPECT_EQ(identifierForExtension("tif"), u"public.tiff");
    EXPECT_EQ(identifierForExtension("TIFF"), u"public.tiff");
    EXPECT_EQ(identifierForExtension("HEIC"), u"public.heic");
    EXPECT_EQ(identifierForExtension("gif"), u"com.compuserve.gif");
    EXPECT_EQ(identifierForExtension("webp"), u"org.webmproject.webp");
    EXPECT_EQ(identifierForExtension("bmp"), u"com.microsoft.bmp");
    EXPECT_EQ(identifierForExtension("PDF"), u"com.adobe.pdf");
    EXPECT_EQ(identifierForExtension("txt"), u"public.plain-text");
    EXPECT_EQ(identifierForExtension("md"), u"net.daringfireball.markdown");
    EXPECT_EQ(identifierForExtension("csv"), u"public.comma-separated-values-text");
    EXPECT_EQ(identifierForExtension("json"), u"public.json");
    EXPECT_EQ(identifierForExtension("log"), u"public.log");

    // Unknown extensions, the empty one and a dotted one name no type.
    EXPECT_EQ(identifierForExtension("zip"), u"<none>");
    EXPECT_EQ(identifierForExtension(""), u"<none>");
    EXPECT_EQ(identifierForExtension(".png"), u"<none>");
    EXPECT_EQ(identifierForExtension("png "), u"<none>");
    // Image formats the layer cannot decode are not image types here.
    EXPECT_EQ(identifierForExtension("svg"), u"<none>");
    EXPECT_EQ(identifierForExtension("ico"), u"<none>");
}

TEST(UniformTypeTest, FindsTypesByIdentifierAndMimeType)
{
    const auto png = UniformType::withIdentifier(QStringLiteral("PUBLIC.PNG"));
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->identifier, u"public.png"); // the table's spelling
    EXPECT_FALSE(UniformType::withIdentifier(QStringLiteral("public.svg-image")).has_value());
    EXPECT_FALSE(UniformType::withIdentifier(QString()).has_value());

    EXPECT_EQ(identifierForMime("image/png"), u"public.png");
    EXPECT_EQ(identifierForMime("IMAGE/JPEG"), u"public.jpeg");
    EXPECT_EQ(identifierForMime("image/jpg"), u"public.jpeg");
    EXPECT_EQ(identifierForMime("image/heic"), u"public.heic");
    EXPECT_EQ(identifierForMime("image/tiff"), u"public.tiff");
    EXPECT_EQ(identifierForMime("image/x-ms-bmp"), u"com.microsoft.bmp");
    EXPECT_EQ(identifierForMime("application/pdf"), u"com.adobe.pdf");
    EXPECT_EQ(identifierForMime("text/plain"), u"public.plain-text");
    EXPECT_EQ(identifierForMime("text/plain;charset=utf-8"), u"public.utf8-plain-text");
    EXPECT_EQ(identifierForMime("text/plain; charset=\"UTF-8\""), u"public.utf8-plain-text");
    EXPECT_EQ(identifierForMime("text/plain;charset=iso-8859-1"), u"public.plain-text");
    EXPECT_EQ(identifierForMime("image/png; name=x"), u"public.png");
    EXPECT_EQ(identifierForMime("image/svg+xml"), u"<none>");
    EXPECT_EQ(identifierForMime("text/uri-list"), u"<none>");
    EXPECT_EQ(identifierForMime(""), u"<none>");
}

TEST(UniformTypeTest, ImageTypesConformToImageAndHaveTheirPreferredExtension)
{
    for (const char* identifier : kImageIdentifiers) {
        SCOPED_TRACE(identifier);
        const auto type = UniformType::withIdentifier(QString::fromLatin1(identifier));
        ASSERT_TRUE(type.has_value());
        EXPECT_TRUE(type->conformsToImage);
        EXPECT_TRUE(type->conformsTo(QStringLiteral("public.image")));
        EXPECT_TRUE(type->conformsTo(QStringLiteral("public.data")));
        EXPECT_FALSE(type->preferredFilenameExtension.isEmpty());
        EXPECT_FALSE(type->preferredMimeType.isEmpty());
        // The preferred extension and MIME type lead back to the same type.
        EXPECT_EQ(UniformType::forFilenameExtension(type->preferredFilenameExtension), type);
        EXPECT_EQ(UniformType::forMimeType(type->preferredMimeType), type);
        EXPECT_EQ(type->filenameExtensions().value(0), type->preferredFilenameExtension);
    }
    EXPECT_EQ(UniformType::withIdentifier(QStringLiteral("public.jpeg"))->preferredFilenameExtension, u"jpeg");
    EXPECT_EQ(UniformType::withIdentifier(QStringLiteral("public.tiff"))->preferredFilenameExtension, u"tiff");
    EXPECT_EQ(UniformType::withIdentifier(QStringLiteral("public.heic"))->preferredFilenameExtension, u"heic");

    const auto image = UniformType::withIdentifier(QStringLiteral("public.image"));
    ASSERT_TRUE(image.has_value());
    EXPECT_TRUE(image->conformsToImage);
    EXPECT_TRUE(image->preferredFilenameExtension.isEmpty());
}

TEST(UniformTypeTest, DocumentAndTextTypesAreNotImages)
{
    for (const char* extension : {"pdf", "txt", "md", "csv", "json", "log"}) {
        SCOPED_TRACE(extension);
        const auto type = UniformType::forFilenameExtension(QString::fromLatin1(extension));
        ASSERT_TRUE(type.has_value());
        EXPECT_FALSE(type->conformsToImage);
        EXPECT_FALSE(type->conformsTo(QStringLiteral("public.image")));
        EXPECT_TRUE(type->conformsTo(QStringLiteral("public.data")));
        EXPECT_EQ(type->preferredFilenameExtension, QString::fromLatin1(extension));
    }
    const auto utf8 = UniformType::forMimeType(QStringLiteral("text/plain;charset=utf-8"));
    ASSERT_TRUE(utf8.has_value());
    EXPECT_TRUE(utf8->conformsTo(QStringLiteral("public.plain-text")));
    EXPECT_TRUE(utf8->conformsTo(QStringLiteral("public.text")));
    EXPECT_TRUE(utf8->preferredFilenameExtension.isEmpty());
    EXPECT_FALSE(UniformType::forFilenameExtension(QStringLiteral("json"))->conformsTo(QStringLiteral("public.plain-text")));
}
