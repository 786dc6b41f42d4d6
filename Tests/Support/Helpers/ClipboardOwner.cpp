// A second program on the test desktop that owns the clipboard.
//
//   tolvex-clipboard-owner [--marked] TEXT
//
// puts a text on the clipboard through Qt, with the program's own-copy
// marker when asked to: what a copy from a card in another running instance
// looks like. It serves the clipboard until it loses it or is ended.
//
//   tolvex-clipboard-owner --offer TARGET --bytes N [--part P] [--delay MS] [--pause MS] [--stay]
//
// owns the clipboard over a bare X connection and answers TARGET with N
// bytes ('x', or atoms when TARGET is TARGETS itself, whose answer it then
// replaces), in INCR parts of P bytes (65536) when N is more than one part.
// It waits --delay before the first part and --pause before each later one.
// An owner that behaves badly, as some do: it keeps serving a transfer its
// reader has given up on for as long as it lives, and with --stay it does
// not quit when another program takes the clipboard.
//
// Both print "ready" once they own the clipboard. The bare owner also prints
// "asked" when asked for TARGET, "sent N" after each part stored with the
// total so far, and "finished" when a transfer has ended.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int ownWithQt(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool marked = arguments.removeAll(QStringLiteral("--marked")) > 0;
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: tolvex-clipboard-owner [--marked] TEXT\n");
        return 2;
    }
    auto* data = new QMimeData;
    data->setText(arguments.first());
    if (marked)
        data->setData(QStringLiteral("application/x-local.tolvex.owned-copy"), "1");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data, QClipboard::Clipboard);
    QObject::connect(clipboard, &QClipboard::changed, &app, [clipboard](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

struct Offer {
    std::string target;
    long long bytes = 0;
    long long part = 65536;
    int delay = 0;
    int pause = 0;
    bool stay = false;
};

struct Transfer {
    xcb_selection_request_event_t request{};
    xcb_window_t requestor = 0;
    xcb_atom_t property = 0;
    bool incremental = false;
    long long sent = 0;
    // When the next part (or the whole answer) is written; none while the
    // reader has not taken the last one.
    std::optional<Clock::time_point> due;
};

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

xcb_atom_t intern(xcb_connection_t* c, const std::string& name)
{
    xcb_intern_atom_reply_t* reply
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

class BareOwner {
public:
    explicit BareOwner(Offer offer) : offer_(std::move(offer)) {}

    int run()
    {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_))
            return 1;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        clipboard_ = intern(c_, "CLIPBOARD");
        targets_ = intern(c_, "TARGETS");
        incr_ = intern(c_, "INCR");
        target_ = intern(c_, offer_.target);
        atoms_ = offer_.target == "TARGETS";
        // The parts of a list of atoms must not split one.
        if (atoms_)
            offer_.part = std::max(4LL, offer_.part / 4 * 4);
        fill_.assign(static_cast<std::size_t>(offer_.part), 'x');
        if (atoms_) {
            // Real atoms, so that each one has a name to ask for.
            for (std::size_t i = 0; i + 4 <= fill_.size(); i += 4) {
                const xcb_atom_t atom = static_cast<xcb_atom_t>(1 + (i / 4) % 68);
                std::memcpy(fill_.data() + i, &atom, 4);
            }
        }
        xcb_set_selection_owner(c_, window_, clipboard_, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t* owner
            = xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, clipboard_), nullptr);
        const bool owns = owner && owner->owner == window_;
        std::free(owner);
        if (!owns)
            return 1;
        say("ready");

        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
                const bool goOn = handle(event);
                std::free(event);
                if (!goOn)
                    return 0;
            }
            if (xcb_connection_has_error(c_))
                return 0;
            writeDueParts();
            pollfd descriptor{xcb_get_file_descriptor(c_), POLLIN, 0};
            ::poll(&descriptor, 1, waitTime());
        }
    }

private:
    bool handle(const xcb_generic_event_t* event)
    {
        switch (event->response_type & 0x7f) {
        case XCB_SELECTION_REQUEST:
            request(*reinterpret_cast<const xcb_selection_request_event_t*>(event));
            return true;
        case XCB_SELECTION_CLEAR:
            return offer_.stay;
        case XCB_PROPERTY_NOTIFY: {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            for (Transfer& transfer : transfers_) {
                if (transfer.incremental && !transfer.due && change->window == transfer.requestor
                    && change->atom == transfer.property && change->state == XCB_PROPERTY_DELETE)
                    transfer.due = Clock::now() + std::chrono::milliseconds(transfer.sent ? offer_.pause : offer_.delay);
            }
            return true;
        }
        default:
            return true;
        }
    }

    void request(const xcb_selection_request_event_t& request)
    {
        const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
        if (request.target == target_) {
            say("asked");
            Transfer transfer{request, request.requestor, property, offer_.bytes > offer_.part, 0, std::nullopt};
            if (transfer.incremental) {
                const uint32_t events[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
                xcb_change_window_attributes(c_, request.requestor, XCB_CW_EVENT_MASK, events);
                const auto length = static_cast<uint32_t>(std::min<long long>(offer_.bytes, UINT32_MAX));
                xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, property, incr_, 32, 1, &length);
                notify(request, property);
            } else {
                transfer.due = Clock::now() + std::chrono::milliseconds(offer_.delay);
            }
            transfers_.push_back(transfer);
        } else if (request.target == targets_) {
            const xcb_atom_t offered[] = {targets_, target_};
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32, 2, offered);
            notify(request, property);
        } else {
            notify(request, XCB_NONE);
        }
        xcb_flush(c_);
    }

    void notify(const xcb_selection_request_event_t& request, xcb_atom_t property)
    {
        xcb_selection_notify_event_t answer{};
        answer.response_type = XCB_SELECTION_NOTIFY;
        answer.time = request.time;
        answer.requestor = request.requestor;
        answer.selection = request.selection;
        answer.target = request.target;
        answer.property = property;
        xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&answer));
    }

    // Stores bytes into the reader's property; false when its window is gone.
    bool store(const Transfer& transfer, long long length)
    {
        const uint8_t format = atoms_ ? 32 : 8;
        const xcb_atom_t type = atoms_ ? xcb_atom_t(XCB_ATOM_ATOM) : target_;
        const auto units = static_cast<uint32_t>(atoms_ ? length / 4 : length);
        std::vector<char> bytes(static_cast<std::size_t>(length));
        for (long long i = 0; i < length; i += offer_.part)
            std::memcpy(bytes.data() + i, fill_.data(), static_cast<std::size_t>(std::min(offer_.part, length - i)));
        xcb_generic_error_t* error = xcb_request_check(c_, xcb_change_property_checked(c_, XCB_PROP_MODE_REPLACE,
                                                                  transfer.requestor, transfer.property, type, format,
                                                                  units, bytes.data()));
        std::free(error);
        return error == nullptr;
    }

    void writeDueParts()
    {
        const Clock::time_point now = Clock::now();
        for (auto transfer = transfers_.begin(); transfer != transfers_.end();) {
            if (!transfer->due || *transfer->due > now) {
                ++transfer;
                continue;
            }
            transfer->due.reset();
            bool ended = false;
            if (!transfer->incremental) {
                ended = true;
                if (store(*transfer, offer_.bytes)) {
                    transfer->sent = offer_.bytes;
                    say("sent " + std::to_string(transfer->sent));
                }
                notify(transfer->request, transfer->property);
            } else {
                const long long length = std::min(offer_.part, offer_.bytes - transfer->sent);
                if (!store(*transfer, length)) {
                    ended = true;
                } else if (length == 0) {
                    ended = true;
                } else {
                    transfer->sent += length;
                    say("sent " + std::to_string(transfer->sent));
                }
            }
            xcb_flush(c_);
            if (ended) {
                if (transfer->sent == offer_.bytes)
                    say("finished");
                transfer = transfers_.erase(transfer);
            } else {
                ++transfer;
            }
        }
    }

    int waitTime() const
    {
        int wait = 50;
        const Clock::time_point now = Clock::now();
        for (const Transfer& transfer : transfers_) {
            if (transfer.due) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*transfer.due - now).count();
                wait = std::min<int>(wait, static_cast<int>(std::max<long long>(left, 0)));
            }
        }
        return wait;
    }

    Offer offer_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t clipboard_ = 0;
    xcb_atom_t targets_ = 0;
    xcb_atom_t incr_ = 0;
    xcb_atom_t target_ = 0;
    bool atoms_ = false;
    std::vector<char> fill_;
    std::list<Transfer> transfers_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--offer") != 0)
        return ownWithQt(argc, argv);
    Offer offer;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--stay")
            offer.stay = true;
        else if (option == "--offer" && hasValue)
            offer.target = argv[++i];
        else if (option == "--bytes" && hasValue)
            offer.bytes = std::atoll(argv[++i]);
        else if (option == "--part" && hasValue)
            offer.part = std::atoll(argv[++i]);
        else if (option == "--delay" && hasValue)
            offer.delay = std::atoi(argv[++i]);
        else if (option == "--pause" && hasValue)
            offer.pause = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "tolvex-clipboard-owner: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    return BareOwner(offer).run();
}
