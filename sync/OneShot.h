#pragma once

#include <coroutine>
#include <memory>
#include <optional>
#include <utility>

// A one-shot resume handle: the coroutine that co_awaits it waits until someone
// calls resume() with the value. Copies share the same slot; only the first
// resume() counts. Both sides must run on the same thread.
template<typename T>
class OneShot {
public:
    void resume(T value) const
    {
        if (m_state->value)
            return;
        m_state->value = std::move(value);
        if (auto waiter = std::exchange(m_state->waiter, {}))
            waiter.resume();
    }

    bool isResumed() const { return m_state->value.has_value(); }

    bool await_ready() const noexcept { return m_state->value.has_value(); }
    void await_suspend(std::coroutine_handle<> waiter) noexcept { m_state->waiter = waiter; }
    T await_resume() { return std::move(*m_state->value); }

private:
    struct State {
        std::optional<T> value;
        std::coroutine_handle<> waiter;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
