#pragma once

namespace tarn1::testing
{

/// Unsets an event's or field's receive handler when it goes, which waits for a running call.
/// Declared after the locals a handler uses, it keeps a late notification from reaching them once
/// the test is over.
template <typename Event> class Receive_handler_unset final
{
  public:
    explicit Receive_handler_unset(Event& event)
        : m_event(event)
    {
    }
    ~Receive_handler_unset() { m_event.UnsetReceiveHandler(); }

    Receive_handler_unset(const Receive_handler_unset&) = delete;
    Receive_handler_unset& operator=(const Receive_handler_unset&) = delete;

  private:
    Event& m_event;
};

} // namespace tarn1::testing
