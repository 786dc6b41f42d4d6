#include "Velmarin/Platform/X11SelectionReader.h"

#include "TolvexCore/Model/StoreError.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tolvex {

namespace {

// How often a wait looks whether the owner is still the one it asked.
constexpr std::chrono::milliseconds ownerCheck{50};

const QString plainText = QStringLiteral("text/plain");

// Text targets, best first; STRING is Latin-1.
const QStringList textTargets{QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain;charset=utf-8"),
    QStringLiteral("text/plain"), QStringLiteral("STRING"), QStringLiteral("TEXT")};

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, void (*)(void*)>;

template <typename Reply>
ReplyPointer<Reply> adopt(Reply* reply)
{
    return ReplyPointer<Reply>(reply, std::free);
}

} // namespace

std::shared_ptr<X11SelectionReader> X11SelectionReader::connect()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return nullptr;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t events[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, XCB_CW_EVENT_MASK, events);
    xcb_flush(connection);
    return std::shared_ptr<X11SelectionReader>(new X11SelectionReader(connection, window));
}

X11SelectionReader::X11SelectionReader(xcb_connection_t* connection, std::uint32_t window)
    : connection_(connection), window_(window)
{
}

X11SelectionReader::~X11SelectionReader()
{
    xcb_destroy_window(connection_, window_);
    xcb_disconnect(connection_);
}

std::uint32_t X11SelectionReader::atom(const QString& name)
{
    if (const auto found = atoms_.constFind(name); found != atoms_.cend())
        return *found;
    const QByteArray latin = name.toLatin1();
    auto reply = adopt(xcb_intern_atom_reply(connection_,
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(latin.size()), latin.constData()), nullptr));
    if (!reply)
        throw StoreError::invalidSource();
    atoms_.insert(name, reply->atom);
    return reply->atom;
}

std::uint32_t X11SelectionReader::currentOwner()
{
    auto reply = adopt(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, atom(QStringLiteral("CLIPBOARD"))), nullptr));
    if (!reply)
        throw StoreError::invalidSource();
    return reply->owner;
}

QStringList X11SelectionReader::formats()
{
    targets_.clear();
    owner_ = currentOwner();
    if (owner_ == XCB_NONE)
        return {};
    const auto offered = convert(atom(QStringLiteral("TARGETS")));
    if (!offered)
        return {};
    const QByteArray& bytes = offered->first;
    std::vector<xcb_atom_t> atoms(static_cast<std::size_t>(bytes.size()) / sizeof(xcb_atom_t));
    std::memcpy(atoms.data(), bytes.constData(), atoms.size() * sizeof(xcb_atom_t));

    std::vector<xcb_get_atom_name_cookie_t> cookies;
    cookies.reserve(atoms.size());
    for (const xcb_atom_t target : atoms)
        cookies.push_back(xcb_get_atom_name(connection_, target));
    QStringList formats;
    qsizetype bestText = textTargets.size();
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        auto reply = adopt(xcb_get_atom_name_reply(connection_, cookies[i], nullptr));
        if (!reply)
            continue;
        const QString name = QString::fromLatin1(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
        atoms_.insert(name, atoms[i]);
        if (const qsizetype rank = textTargets.indexOf(name); rank >= 0) {
            if (rank < bestText) {
                bestText = rank;
                if (!targets_.contains(plainText))
                    formats.append(plainText);
                targets_.insert(plainText, atoms[i]);
            }
        } else if (name.contains(u'/') && !targets_.contains(name)) {
            formats.append(name);
            targets_.insert(name, atoms[i]);
        }
    }
    return formats;
}

std::optional<QByteArray> X11SelectionReader::data(const QString& mimeType)
{
    const auto target = targets_.constFind(mimeType);
    if (target == targets_.cend())
        return std::nullopt;
    auto converted = convert(*target);
    if (!converted)
        return std::nullopt;
    if (converted->second == XCB_ATOM_STRING)
        return QString::fromLatin1(converted->first).toUtf8();
    return std::move(converted->first);
}

std::optional<std::pair<QByteArray, std::uint32_t>> X11SelectionReader::convert(std::uint32_t target)
{
    // Whatever an earlier, abandoned transfer left behind.
    while (xcb_generic_event_t* stale = xcb_poll_for_event(connection_))
        std::free(stale);
    if (currentOwner() != owner_)
        throw StoreError::sourceChanged();

    const xcb_atom_t property = atom(QStringLiteral("TOLVEX_SELECTION"));
    xcb_delete_property(connection_, window_, property);
    xcb_convert_selection(
        connection_, window_, atom(QStringLiteral("CLIPBOARD")), target, property, XCB_CURRENT_TIME);
    xcb_flush(connection_);

    const auto notify = waitFor(
        [&](const void* event) {
            return (static_cast<const xcb_generic_event_t*>(event)->response_type & 0x7f) == XCB_SELECTION_NOTIFY
                && static_cast<const xcb_selection_notify_event_t*>(event)->requestor == window_;
        },
        QDeadlineTimer(answerTime));
    if (static_cast<const xcb_selection_notify_event_t*>(notify.get())->property == XCB_NONE)
        return std::nullopt;

    std::uint32_t type = XCB_NONE;
    QByteArray bytes = takeProperty(&type);
    if (type != atom(QStringLiteral("INCR")))
        return std::pair(std::move(bytes), type);

    // A long answer comes in parts: each one is announced by a new value of
    // the property, taken by deleting it, and an empty part ends it.
    bytes.clear();
    for (;;) {
        waitFor(
            [&](const void* event) {
                if ((static_cast<const xcb_generic_event_t*>(event)->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* change = static_cast<const xcb_property_notify_event_t*>(event);
                return change->window == window_ && change->atom == property
                    && change->state == XCB_PROPERTY_NEW_VALUE;
            },
            QDeadlineTimer(answerTime));
        const QByteArray part = takeProperty(&type);
        if (part.isEmpty())
            break;
        bytes += part.left(maximumBytes - bytes.size());
        if (bytes.size() >= maximumBytes)
            break;
    }
    return std::pair(std::move(bytes), type);
}

QByteArray X11SelectionReader::takeProperty(std::uint32_t* type)
{
    const xcb_atom_t property = atom(QStringLiteral("TOLVEX_SELECTION"));
    auto reply = adopt(xcb_get_property_reply(connection_,
        xcb_get_property(connection_, 1, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
            static_cast<std::uint32_t>(maximumBytes / 4 + 1)),
        nullptr));
    if (!reply)
        throw StoreError::invalidSource();
    *type = reply->type;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
        std::min<qsizetype>(xcb_get_property_value_length(reply.get()), maximumBytes));
}

std::shared_ptr<void> X11SelectionReader::waitFor(
    const std::function<bool(const void* event)>& matches, QDeadlineTimer deadline)
{
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if (matches(event))
                return std::shared_ptr<void>(event, std::free);
            std::free(event);
        }
        if (xcb_connection_has_error(connection_) || deadline.hasExpired())
            throw StoreError::invalidSource();
        pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
        const auto slice = std::min<std::int64_t>(ownerCheck.count(), deadline.remainingTime());
        ::poll(&descriptor, 1, static_cast<int>(std::max<std::int64_t>(slice, 0)));
        if (currentOwner() != owner_)
            throw StoreError::sourceChanged();
    }
}

} // namespace tolvex
