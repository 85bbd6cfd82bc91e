#pragma once

namespace vela::ap::statemanager::states
{

/// The post-run state's cycle counter: counts loop cycles down to 0. Main thread only.
class Knockout_handler final
{
  public:
    explicit Knockout_handler(unsigned int value)
        : m_knockout_timer(value)
        , m_initial_value(value)
    {
    }

    /// Starts counting again from the initial value.
    void reset_knockout_timer() { m_knockout_timer = m_initial_value; }

    /// One cycle passed; stays at 0 once there.
    void update_knockout_timer()
    {
        if (m_knockout_timer > 0)
        {
            --m_knockout_timer;
        }
    }

    unsigned int get_knockout_timer_value() const { return m_knockout_timer; }
    /// The value the timer starts from.
    unsigned int get_initial_value() const { return m_initial_value; }

    bool is_knockout_timer_expired() const { return m_knockout_timer == 0; }

  private:
    unsigned int m_knockout_timer;
    unsigned int m_initial_value;
};

} // namespace vela::ap::statemanager::states
