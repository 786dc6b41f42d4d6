#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tolvex {

// Ends a subscription when destroyed (or on reset()). It may outlive the
// value it observes.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept
    {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset()
    {
        if (auto cancel = std::exchange(cancel_, {}))
            cancel();
    }

private:
    std::function<void()> cancel_;
};

// An observable value for the GUI thread, the model side of every view.
//
// - subscribe() calls the observer with the current value at once, then
//   after every assignment, for as long as the Subscription lives;
// - every assignment notifies, also of a value equal to the old one, because
//   views use a notification as "redraw now" (a repeated cover must blank
//   the strip again);
// - observers run after the value is stored, so one that reads the value
//   through the owner sees the new one;
// - an observer may assign again or unsubscribe anyone while being called;
//   observers always receive the value current at the moment of the call.
//
// Not thread-safe: assign and subscribe on the owner's thread only.
template <typename T>
class Published {
public:
    using Observer = std::function<void(const T&)>;

    Published() : state_(std::make_shared<State>()) {}
    explicit Published(T initial) : state_(std::make_shared<State>(std::move(initial))) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& value() const { return state_->value; }
    const T& operator()() const { return state_->value; }
    const T* operator->() const { return &state_->value; }

    Published& operator=(T value)
    {
        state_->value = std::move(value);
        notify();
        return *this;
    }

    // Changes the value in place, then notifies once.
    template <typename Change>
    void modify(Change&& change)
    {
        std::forward<Change>(change)(state_->value);
        notify();
    }

    [[nodiscard]] Subscription subscribe(Observer observer)
    {
        const std::uint64_t id = ++state_->lastID;
        auto shared = std::make_shared<Observer>(std::move(observer));
        state_->observers.push_back({id, shared});
        std::weak_ptr<State> weak = state_;
        (*shared)(state_->value);
        return Subscription([weak, id] {
            if (const auto state = weak.lock())
                std::erase_if(state->observers, [id](const Entry& entry) { return entry.id == id; });
        });
    }

private:
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<Observer> observer;
    };
    struct State {
        State() = default;
        explicit State(T initial) : value(std::move(initial)) {}
        T value{};
        std::vector<Entry> observers;
        std::uint64_t lastID = 0;
    };

    void notify()
    {
        // A copy, so that observers may subscribe or unsubscribe meanwhile;
        // one removed during this round is not called any more.
        const std::vector<Entry> round = state_->observers;
        const std::shared_ptr<State> keep = state_;
        for (const Entry& entry : round) {
            const bool stillSubscribed = std::any_of(keep->observers.begin(), keep->observers.end(),
                [&](const Entry& current) { return current.id == entry.id; });
            if (stillSubscribed)
                (*entry.observer)(keep->value);
        }
    }

    std::shared_ptr<State> state_;
};

} // namespace tolvex
