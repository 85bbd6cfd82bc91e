#pragma once

// Peers that attack one socket of a daemon, each on a thread of its own, until destroyed. Every
// kind is paced so that a daemon that does not spin has little to do: what they measure is what
// the daemon holds and whether it still serves the others, not how fast it can refuse.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn1::testing
{

class Uid_process;

using Bytes = std::vector<std::uint8_t>;
/// The bytes a peer's connection number serial sends.
using Message_maker = std::function<Bytes(std::size_t serial)>;

/// One attacker. Its destructor stops it and closes what it holds.
class Hostile_peer
{
  public:
    virtual ~Hostile_peer() = default;
    /// Whether the attack has reached its full force. Test thread.
    virtual bool engaged() const = 0;
};

/// The thread and stop flag that every attacker runs on.
class Attacker_thread
{
  public:
    Attacker_thread() = default;
    ~Attacker_thread() { stop(); }

    Attacker_thread(const Attacker_thread&) = delete;
    Attacker_thread& operator=(const Attacker_thread&) = delete;

    void start(std::function<void()> body) { m_thread = std::thread(std::move(body)); }
    /// Ends the loop and joins it. Test thread.
    void stop();
    /// Waits for pause unless stopped meanwhile; false once stopped. Attacker's thread.
    bool pause(std::chrono::milliseconds pause);
    bool stopped() const { return m_stopped; }

  private:
    // Guards nothing but the wake-up of pause(): the test thread stops, the attacker waits.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<bool> m_stopped{false};
    std::thread m_thread;
};

/// Connects as fast as it can, sending each connection its greeting (if any) and keeping every
/// connection open, until burst connections are made or a connect would block (the listen
/// backlog is full: the daemon accepts no more); then one more connection every 10 ms.
class Connection_flood final : public Hostile_peer
{
  public:
    Connection_flood(std::string path, Message_maker greeting, std::size_t burst);
    ~Connection_flood() override;

    bool engaged() const override { return m_connections >= m_burst || m_blocked; }
    std::size_t connections() const { return m_connections; }

  private:
    void run();

    std::string m_path;
    Message_maker m_greeting;
    std::size_t m_burst;
    std::atomic<std::size_t> m_connections{0};
    std::atomic<bool> m_blocked{false};
    std::vector<int> m_open;
    Attacker_thread m_thread;
};

/// Keeps count connections that each send their message one byte per pace. A connection whose
/// message is complete, or that the daemon closed, is replaced by a new one.
class Tricklers final : public Hostile_peer
{
  public:
    Tricklers(std::string path, Message_maker message, std::size_t count, std::chrono::milliseconds pace);
    ~Tricklers() override;

    /// Once every connection has sent a few bytes.
    bool engaged() const override { return m_bytes >= 4 * m_count; }
    std::size_t replaced() const { return m_replaced; }

  private:
    struct Connection
    {
        int socket{-1};
        Bytes message;
        std::size_t sent{0};
    };
    void run();
    bool open(Connection& connection);

    std::string m_path;
    Message_maker m_message;
    std::size_t m_count;
    std::chrono::milliseconds m_pace;
    std::size_t m_serial{0};
    std::atomic<std::size_t> m_bytes{0};
    std::atomic<std::size_t> m_replaced{0};
    Attacker_thread m_thread;
};

/// One connection that sends its greeting, then its message again and again (one per pace, or as
/// fast as the socket takes them when pace is 0), and never reads.
class Non_reader final : public Hostile_peer
{
  public:
    Non_reader(std::string path, Bytes greeting, Bytes message, std::chrono::milliseconds pace);
    ~Non_reader() override;

    /// Without a pace, once the daemon stopped taking what it sends; with one, once ten messages
    /// went out.
    bool engaged() const override { return m_pace.count() == 0 ? m_blocked.load() : m_messages >= 10; }
    std::size_t messages() const { return m_messages; }
    bool closed_by_daemon() const { return m_closed; }

  private:
    void run();

    std::string m_path;
    Bytes m_greeting;
    Bytes m_message;
    std::chrono::milliseconds m_pace;
    std::atomic<std::size_t> m_messages{0};
    std::atomic<bool> m_blocked{false};
    std::atomic<bool> m_closed{false};
    Attacker_thread m_thread;
};

/// Connects once per pace, sends the next of frames in turn (what the socket takes of it) and
/// gives the daemon 100 ms to close the connection before closing it itself.
class Bad_frame_sender final : public Hostile_peer
{
  public:
    Bad_frame_sender(std::string path, std::vector<Bytes> frames, std::chrono::milliseconds pace);
    ~Bad_frame_sender() override;

    /// Once every frame went out twice.
    bool engaged() const override { return m_sent >= 2 * m_frames.size(); }
    std::size_t sent() const { return m_sent; }
    std::size_t closed_by_daemon() const { return m_closed; }

  private:
    void run();

    std::string m_path;
    std::vector<Bytes> m_frames;
    std::chrono::milliseconds m_pace;
    std::atomic<std::size_t> m_sent{0};
    std::atomic<std::size_t> m_closed{0};
    Attacker_thread m_thread;
};

/// A client that sends its greeting, answers the first request it gets with the first part of
/// an answer and nothing more, and keeps reading.
class Partial_answerer final : public Hostile_peer
{
  public:
    Partial_answerer(std::string path, Bytes greeting, Bytes partial_answer);
    ~Partial_answerer() override;

    bool engaged() const override { return m_greeted; }
    std::size_t answered() const { return m_answered; }

  private:
    void run();

    std::string m_path;
    Bytes m_greeting;
    Bytes m_partial_answer;
    std::atomic<bool> m_greeted{false};
    std::atomic<std::size_t> m_answered{0};
    Attacker_thread m_thread;
};

/// Connections of another user, from a process of its own (the test must run as root): one
/// connection per greeting, made one after the other as the daemon takes them, each sending its
/// greeting and then held open.
class Other_user_connections final : public Hostile_peer
{
  public:
    Other_user_connections(std::uint32_t uid, const std::string& path, std::vector<Bytes> greetings);
    ~Other_user_connections() override;

    /// Once every connection is made and its greeting sent.
    bool engaged() const override;

  private:
    std::vector<Bytes> m_greetings;
    std::unique_ptr<Uid_process> m_process;
    mutable bool m_reported{false};
};

} // namespace tarn1::testing
