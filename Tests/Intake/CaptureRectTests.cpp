#include "Velmarin/Intake/CaptureRect.h"
#include "Velmarin/Intake/PropertyList.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

using namespace tolvex;

namespace {

QByteArray bigEndian(quint64 value, int width)
{
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

QByteArray integer(quint64 value, int width)
{
    const int power = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
    return QByteArray(1, static_cast<char>(0x10 | power)) + bigEndian(value, width);
}

QByteArray real(double value)
{
    return QByteArray(1, '\x23') + bigEndian(std::bit_cast<quint64>(value), 8);
}

QByteArray real32(float value)
{
    return QByteArray(1, '\x22') + bigEndian(std::bit_cast<quint32>(value), 4);
}

QByteArray array(const std::vector<quint64>& references)
{
    QByteArray bytes(1, static_cast<char>(0xA0 | std::min<std::size_t>(references.size(), 15)));
    if (references.size() >= 15)
        bytes += integer(references.size(), 1);
    for (const quint64 reference : references)
        bytes += bigEndian(reference, 1);
    return bytes;
}

// A binary property list of the given objects, the top one first; each
// trailer field may be overridden to make a hostile file.
struct Binary {
    explicit Binary(std::vector<QByteArray> objects) : objects(std::move(objects)) {}

    std::vector<QByteArray> objects;
    quint64 top = 0;
    int offsetWidth = 1;
    int referenceWidth = 1;
    std::optional<quint64> objectCount;
    std::optional<quint64> tableOffset;

    QByteArray bytes() const
    {
        QByteArray data("bplist00");
        QByteArray table;
        for (const QByteArray& object : objects) {
            table += bigEndian(data.size(), offsetWidth);
            data += object;
        }
        const quint64 tableAt = data.size();
        data += table;
        data += QByteArray(6, '\0');
        data += static_cast<char>(offsetWidth);
        data += static_cast<char>(referenceWidth);
        data += bigEndian(objectCount.value_or(objects.size()), 8);
        data += bigEndian(top, 8);
        data += bigEndian(tableOffset.value_or(tableAt), 8);
        return data;
    }
};

Binary fourNumbers()
{
    return Binary({array({1, 2, 3, 4}), integer(10, 1), integer(300, 2), real(100.5), real32(50.25f)});
}

QByteArray xml(const QByteArray& body, const QByteArray& doctype = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype + "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

} // namespace

TEST(PropertyListTest, ReadsAnArrayOfNumbersAndRefusesEverythingElse)
{
    const QList<double> expected{10, 300, 100.5, 50.25};
    EXPECT_EQ(PropertyList::numberArray(fourNumbers().bytes()), expected);
    EXPECT_EQ(PropertyList::numberArray(
                  xml("<array><integer>10</integer>\n <integer>300</integer><real>100.5</real><real>5.025e1</real></array>")),
        expected);
    Binary negative({array({1}), integer(static_cast<quint64>(-7), 8)});
    EXPECT_EQ(PropertyList::numberArray(negative.bytes()), QList<double>{-7});

    const auto mutated = [](auto change) {
        Binary plist = fourNumbers();
        change(plist);
        return plist.bytes();
    };
    QByteArray truncated = fourNumbers().bytes();
    truncated.remove(12, 4);
    const QByteArray laughs = xml("<array><integer>&d;</integer></array>",
        "<!DOCTYPE plist [<!ENTITY a \"1111111111\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>\n");
    const std::vector<std::pair<const char*, QByteArray>> refused{
        {"empty", {}},
        {"a truncated binary list", truncated},
        {"a dictionary at the top", mutated([](Binary& p) { p.objects[0] = QByteArray(1, '\xD0'); })},
        {"a string among the numbers", mutated([](Binary& p) { p.objects[2] = QByteArray("\x51x", 2); })},
        {"a reference past the objects", mutated([](Binary& p) { p.objects[0] = array({1, 2, 3, 9}); })},
        {"an offset table outside the data", mutated([](Binary& p) { p.tableOffset = 1u << 30; })},
        {"an object count larger than the table", mutated([](Binary& p) { p.objectCount = ~0ull; })},
        {"an array claiming a huge count",
            mutated([](Binary& p) { p.objects[0] = QByteArray("\xAF\x13", 2) + bigEndian(~0ull >> 1, 8); })},
        {"a number cut by the offset table", mutated([](Binary& p) { p.objects[4] = QByteArray(1, '\x23'); })},
        {"XML with a dictionary", xml("<dict><key>x</key><real>1</real></dict>")},
        {"XML with a malformed number", xml("<array><integer>1.5</integer><real>2,5</real></array>")},
        {"XML whose entities expand without end", laughs},
    };
    for (const auto& [name, bytes] : refused)
        EXPECT_EQ(PropertyList::numberArray(bytes), std::nullopt) << name;
}

TEST(CaptureRectTest, RectangleFromTheMainScreensTopLeftClippedToTheScreens)
{
    const auto list = [](double x, double y, double w, double h) {
        return Binary({array({1, 2, 3, 4}), real(x), real(y), real(w), real(h)}).bytes();
    };
    const QList<QRect> single{QRect(0, 0, 1440, 900)};
    // Main screen on the right of a second one, as the virtual desktop puts it.
    const QList<QRect> pair{QRect(1280, 0, 1440, 900), QRect(0, 100, 1280, 800)};
    const double huge = 1e300;
    struct Case {
        const char* name;
        QByteArray attribute;
        QList<QRect> screens;
        std::optional<QRectF> expected;
    };
    const std::vector<Case> cases{
        // Measured from the main screen's top left: 850 from its bottom on a
        // screen 900 high, which is 0 from its top.
        {"the usual capture", list(0, 0, 100, 50), single, QRectF(0, 0, 100, 50)},
        {"on the second screen, left of the main one", list(-1000, 300, 200, 100), pair, QRectF(280, 300, 200, 100)},
        {"three numbers", Binary({array({1, 2, 3}), real(0), real(0), real(10)}).bytes(), single, std::nullopt},
        {"a width of 2", list(0, 0, 2, 50), single, std::nullopt},
        {"not a number", list(std::nan(""), 0, 10, 10), single, std::nullopt},
        {"no screen", list(0, 0, 100, 50), {}, std::nullopt},
        {"beside every screen", list(5000, 0, 100, 50), single, std::nullopt},
        {"in the gap of the screens' bounds", list(-1100, 0, 50, 50), pair, std::nullopt},
        {"huge but finite", list(-huge, -huge, huge, huge), single, std::nullopt},
        {"huge and covering", list(-huge / 2, -huge / 2, huge, huge), single, QRectF(0, 0, 1440, 900)},
        {"partly off screen", list(1400, 880, 100, 50), single, QRectF(1400, 880, 40, 20)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(captureRect(c.attribute, c.screens), c.expected) << c.name;
}
