#include "Velmarin/Platform/X11SelectionReader.h"

#include "TolvexCore/Model/StoreError.h"

#include <QFutureInterface>
#include <QSet>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace tolvex {

namespace {

// How often a wait looks whether the owner is still the one it asked, and
// whether the reader is closing.
constexpr std::chrono::milliseconds ownerCheck{50};

// Atom names are remembered across reads; an owner inventing new targets
// for every read must not grow the memory without end.
constexpr qsizetype rememberedNames = 4 * X11SelectionReader::maximumTargets;

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

std::uint8_t kindOf(const void* event)
{
    return static_cast<const xcb_generic_event_t*>(event)->response_type & 0x7f;
}

// The window one transfer is answered into, gone with the transfer: an
// owner still writing an abandoned answer then writes into nothing.
class TransferWindow {
public:
    TransferWindow(xcb_connection_t* connection, xcb_window_t root)
        : connection_(connection), id_(xcb_generate_id(connection))
    {
        const std::uint32_t events[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id_, root, 0, 0, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, events);
    }
    ~TransferWindow()
    {
        xcb_destroy_window(connection_, id_);
        xcb_flush(connection_);
    }
    TransferWindow(const TransferWindow&) = delete;
    TransferWindow& operator=(const TransferWindow&) = delete;

    xcb_window_t id() const { return id_; }

private:
    xcb_connection_t* connection_;
    xcb_window_t id_;
};

} // namespace

std::shared_ptr<X11SelectionReader> X11SelectionReader::connect(OwnerChanged onOwnerChanged)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return nullptr;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    try {
        return std::shared_ptr<X11SelectionReader>(new X11SelectionReader(connection, root, std::move(onOwnerChanged)));
    } catch (const std::system_error&) {
        // No descriptor to wake the thread with: no reader, as without a display.
        xcb_disconnect(connection);
        return nullptr;
    }
}

X11SelectionReader::X11SelectionReader(xcb_connection_t* connection, std::uint32_t root, OwnerChanged onOwnerChanged)
    : connection_(connection), root_(root), onOwnerChanged_(std::move(onOwnerChanged))
{
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0)
        throw std::system_error(errno, std::generic_category());
    // Before the thread starts: the connection is the thread's alone from then on.
    try {
        if (onOwnerChanged_)
            watchOwners();
    } catch (const StoreError&) {
        // The server did not answer: reads will tell, owners go unreported.
        fixesEvent_ = 0;
    }
    thread_ = std::thread([this] { run(); });
}

X11SelectionReader::~X11SelectionReader()
{
    closing_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    // A round trip waits for the server without a deadline, and a server
    // that another client has grabbed answers nobody else until the grab
    // ends. Shutting the connection down ends any such wait at once, with
    // the connection's error; nothing is read on it after this.
    ::shutdown(xcb_get_file_descriptor(connection_), SHUT_RDWR);
    thread_.join();
    ::close(wake_);
    xcb_disconnect(connection_);
}

void X11SelectionReader::watchOwners()
{
    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(connection_, &xcb_xfixes_id);
    if (!fixes || !fixes->present)
        return;
    // The server answers XFixes requests only once the version is agreed.
    auto version = adopt(xcb_xfixes_query_version_reply(
        connection_, xcb_xfixes_query_version(connection_, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    if (!version)
        return;
    // A window of our own receives the notices; it lives as long as the connection.
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
        XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_xfixes_select_selection_input(connection_, window, atom(QStringLiteral("CLIPBOARD")),
        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
            | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(connection_);
    fixesEvent_ = fixes->first_event;
}

void X11SelectionReader::noteOwnerChange(const void* event)
{
    if (fixesEvent_ != 0 && kindOf(event) == fixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY)
        onOwnerChanged_();
}

void X11SelectionReader::run()
{
    // Once a close has shut the connection down, a request still being
    // flushed here writes into a closed socket: that write must fail with
    // EPIPE on this thread, not end the whole program with SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    for (;;) {
        std::function<void()> job;
        {
            const std::lock_guard lock(queueLock_);
            if (!queue_.empty()) {
                job = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        // Reads queued before a close still run: they end at once, each
        // settling its future.
        if (job) {
            job();
            continue;
        }
        if (closing_)
            return;
        // Events the last read left in the connection's queue first: the
        // descriptor no longer shows them.
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            noteOwnerChange(event);
            std::free(event);
        }
        pollfd descriptors[2] = {{wake_, POLLIN, 0}, {xcb_get_file_descriptor(connection_), POLLIN, 0}};
        // A broken connection is not waited on: it would wake the loop for ever.
        const nfds_t count = xcb_connection_has_error(connection_) ? 1 : 2;
        if (::poll(descriptors, count, -1) > 0 && (descriptors[0].revents & POLLIN)) {
            std::uint64_t woken = 0;
            [[maybe_unused]] const ssize_t read = ::read(wake_, &woken, sizeof woken);
        }
    }
}

QFuture<void> X11SelectionReader::read(Read read)
{
    // A promise settled on the reader's own thread: the connection is that
    // thread's alone, and nobody waiting on the future can run the read.
    QFutureInterface<void> promise;
    promise.reportStarted();
    QFuture<void> future = promise.future();
    {
        const std::lock_guard lock(queueLock_);
        queue_.push_back([this, promise, read = std::move(read)]() mutable {
            try {
                Session session(*this);
                read(session);
                if (session.owner_ != XCB_NONE && currentOwner() != session.owner_)
                    throw StoreError::sourceChanged();
            } catch (...) {
                promise.reportException(std::current_exception());
            }
            promise.reportFinished();
        });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    return future;
}

X11SelectionReader::Session::Session(X11SelectionReader& reader) : reader_(reader), whole_(transferTime)
{
}

QStringList X11SelectionReader::Session::formats()
{
    targets_.clear();
    owner_ = reader_.currentOwner();
    if (owner_ == XCB_NONE)
        return {};
    const std::optional<Answer> offered
        = reader_.convert(*this, reader_.atom(QStringLiteral("TARGETS")), maximumTargets * 4 + 1);
    if (!offered)
        return {};
    if (offered->bytes.size() > maximumTargets * 4)
        throw StoreError::invalidSource();

    QList<std::uint32_t> atoms;
    QSet<std::uint32_t> seen;
    for (qsizetype offset = 0; offset + 4 <= offered->bytes.size(); offset += 4) {
        xcb_atom_t target = XCB_NONE;
        std::memcpy(&target, offered->bytes.constData() + offset, sizeof target);
        if (target != XCB_NONE && !seen.contains(target)) {
            seen.insert(target);
            atoms.append(target);
        }
    }
    const QHash<std::uint32_t, QString> names = reader_.names(atoms);

    QStringList formats;
    qsizetype bestText = textTargets.size();
    for (const std::uint32_t target : atoms) {
        const QString name = names.value(target);
        if (const qsizetype rank = textTargets.indexOf(name); rank >= 0) {
            if (rank < bestText) {
                bestText = rank;
                if (!targets_.contains(plainText))
                    formats.append(plainText);
                targets_.insert(plainText, target);
            }
        } else if (name.contains(u'/') && !targets_.contains(name)) {
            formats.append(name);
            targets_.insert(name, target);
        }
    }
    return formats;
}

std::optional<QByteArray> X11SelectionReader::Session::data(const QString& mimeType, qsizetype maximum)
{
    const auto target = targets_.constFind(mimeType);
    if (target == targets_.cend() || maximum < 1)
        return std::nullopt;
    std::optional<Answer> answer = reader_.convert(*this, *target, maximum);
    if (!answer)
        return std::nullopt;
    if (answer->type == XCB_ATOM_STRING)
        return QString::fromLatin1(answer->bytes).toUtf8();
    return std::move(answer->bytes);
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

QHash<std::uint32_t, QString> X11SelectionReader::names(const QList<std::uint32_t>& atoms)
{
    if (names_.size() + atoms.size() > rememberedNames)
        names_.clear();
    QList<std::pair<std::uint32_t, xcb_get_atom_name_cookie_t>> asked;
    for (const std::uint32_t atom : atoms) {
        if (!names_.contains(atom))
            asked.append({atom, xcb_get_atom_name(connection_, atom)});
    }
    for (const auto& [atom, cookie] : asked) {
        auto reply = adopt(xcb_get_atom_name_reply(connection_, cookie, nullptr));
        if (reply) {
            names_.insert(atom,
                QString::fromLatin1(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get())));
        }
    }
    QHash<std::uint32_t, QString> result;
    for (const std::uint32_t atom : atoms) {
        if (const auto found = names_.constFind(atom); found != names_.cend())
            result.insert(atom, *found);
    }
    return result;
}

std::optional<X11SelectionReader::Answer> X11SelectionReader::convert(
    const Session& session, std::uint32_t target, qsizetype maximum)
{
    // Whatever earlier transfers left behind concerns windows that are gone.
    while (xcb_generic_event_t* stale = xcb_poll_for_event(connection_)) {
        noteOwnerChange(stale);
        std::free(stale);
    }
    if (currentOwner() != session.owner_)
        throw StoreError::sourceChanged();

    const TransferWindow window(connection_, root_);
    xcb_convert_selection(connection_, window.id(), atom(QStringLiteral("CLIPBOARD")), target,
        atom(QStringLiteral("TOLVEX_SELECTION")), XCB_CURRENT_TIME);
    xcb_flush(connection_);

    const auto notified = waitFor(
        session,
        [&](const void* event) {
            return kindOf(event) == XCB_SELECTION_NOTIFY
                && static_cast<const xcb_selection_notify_event_t*>(event)->requestor == window.id();
        },
        QDeadlineTimer(answerTime));
    const xcb_atom_t property = static_cast<const xcb_selection_notify_event_t*>(notified.get())->property;
    if (property == XCB_NONE)
        return std::nullopt;

    Answer answer = take(window.id(), property, maximum);
    if (answer.type != atom(QStringLiteral("INCR")))
        return answer;

    // A long answer comes in parts: each one is announced by a new value of
    // the property, taken by deleting it, and an empty part ends it.
    answer.bytes.clear();
    for (;;) {
        waitFor(
            session,
            [&](const void* event) {
                if (kindOf(event) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* change = static_cast<const xcb_property_notify_event_t*>(event);
                return change->window == window.id() && change->atom == property
                    && change->state == XCB_PROPERTY_NEW_VALUE;
            },
            QDeadlineTimer(answerTime));
        Answer part = take(window.id(), property, maximum - answer.bytes.size());
        answer.type = part.type;
        if (part.bytes.isEmpty())
            break;
        answer.bytes += part.bytes;
        // Cut: the part was left in place, so the owner is not asked for more.
        if (answer.bytes.size() >= maximum)
            break;
    }
    return answer;
}

X11SelectionReader::Answer X11SelectionReader::take(std::uint32_t window, std::uint32_t property, qsizetype maximum)
{
    // The server deletes the property only when nothing of it is left after
    // what was asked for.
    const auto words = static_cast<std::uint32_t>((maximum + 3) / 4);
    auto reply = adopt(xcb_get_property_reply(connection_,
        xcb_get_property(connection_, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, words), nullptr));
    if (!reply)
        throw StoreError::invalidSource();
    const qsizetype length = std::min<qsizetype>(xcb_get_property_value_length(reply.get()), maximum);
    return Answer{QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length), reply->type};
}

std::shared_ptr<void> X11SelectionReader::waitFor(
    const Session& session, const std::function<bool(const void* event)>& matches, QDeadlineTimer deadline)
{
    const QDeadlineTimer until = std::min(deadline, session.whole_);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if (matches(event))
                return std::shared_ptr<void>(event, std::free);
            noteOwnerChange(event);
            std::free(event);
        }
        if (xcb_connection_has_error(connection_) || closing_ || until.hasExpired())
            throw StoreError::invalidSource();
        pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
        const auto slice = std::min<std::int64_t>(ownerCheck.count(), until.remainingTime());
        ::poll(&descriptor, 1, static_cast<int>(std::max<std::int64_t>(slice, 0)));
        if (currentOwner() != session.owner_)
            throw StoreError::sourceChanged();
    }
}

} // namespace tolvex
