#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

struct xcb_connection_t;

namespace tolvex {

// Reads the CLIPBOARD selection of another program over a connection of its
// own, with deadlines. Qt's clipboard waits 5 s for each answer on the GUI
// thread, so an owner that hangs stalls the program for 15 s, and one that
// exits in the middle of a read for 5 s; here an owner gets `answerTime` to
// start each answer and as long again between the parts of a long one, and a
// change of owner ends the wait at once.
//
// Throws StoreError::invalidSource when the owner does not answer in time or
// the connection fails, StoreError::sourceChanged when the owner changes
// during a read. GUI thread only. It must not be asked about a selection
// this process owns: the answer would need the very thread that waits.
class X11SelectionReader {
public:
    static constexpr std::chrono::milliseconds answerTime{1000};
    // A larger answer is cut here: every limit of the reader is below it,
    // so a cut answer still fails its size test, and memory stays bounded.
    static constexpr qsizetype maximumBytes = 64 * 1024 * 1024 + 1;

    // Nothing without an X display.
    static std::shared_ptr<X11SelectionReader> connect();
    ~X11SelectionReader();

    X11SelectionReader(const X11SelectionReader&) = delete;
    X11SelectionReader& operator=(const X11SelectionReader&) = delete;

    // The offered types as MIME types: UTF8_STRING, STRING, TEXT and
    // text/plain;charset=utf-8 read as text/plain. Empty without an owner.
    // Fixes the owner that the following data() calls must still find.
    QStringList formats();
    // The bytes for a MIME type from formats(); nothing when the owner refuses.
    std::optional<QByteArray> data(const QString& mimeType);

private:
    X11SelectionReader(xcb_connection_t* connection, std::uint32_t window);

    std::uint32_t atom(const QString& name);
    std::uint32_t currentOwner();
    // The bytes of one conversion and their type, or nothing when refused.
    std::optional<std::pair<QByteArray, std::uint32_t>> convert(std::uint32_t target);
    QByteArray takeProperty(std::uint32_t* type);
    // The next event that `matches` accepts, within the deadline; checks
    // the owner meanwhile.
    std::shared_ptr<void> waitFor(const std::function<bool(const void* event)>& matches, QDeadlineTimer deadline);

    xcb_connection_t* connection_;
    std::uint32_t window_;
    std::uint32_t owner_ = 0;
    QHash<QString, std::uint32_t> atoms_;
    // For each MIME type, the target that provides it.
    QHash<QString, std::uint32_t> targets_;
};

} // namespace tolvex
