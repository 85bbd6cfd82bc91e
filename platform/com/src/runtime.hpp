#pragma once

#include "kest/com/connector/service_interface_description.h"
#include "kest/com/cpp_binding/reply_token.h"
#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "kest/com/someip/message_header.h"
#include "kest/com/static_thread_pool.h"
#include "kest/com/strand.h"
#include "tarn1/log_limit/log_rate_limiter.hpp"
#include "vela/com/future.h"
#include "vela/com/runtime/types.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kest::com::cpp_binding
{
class Method_impl_base;
}

namespace kest::com::internal
{

using Clock = std::chrono::steady_clock;
class Access_control;
class Access_gate;
struct Peer_identity;

/// What a process does with the denials of its access checks.
enum class Access_mode
{
    /// A denial, an error answer or no answer refuses the operation.
    kEnforce,
    /// Denials are logged at warning level and the operation goes ahead.
    kAudit,
};

/// The process's middleware settings, read once from the environment.
struct Settings
{
    static constexpr const char* s_default_directory = "/run/tarn1/com";
    static constexpr std::chrono::milliseconds s_default_call_timeout{5000};
    // One of the workers waits for I/O while the others run callbacks, so there are at least two.
    static constexpr std::size_t s_default_workers = 5;
    static constexpr std::size_t s_min_workers = 2;

    // Connections one offered instance keeps at once, in all and per user (root's count only to
    // the total), so that one local user cannot take all of them, nor all descriptors.
    static constexpr std::size_t s_default_max_connections = 256;
    static constexpr std::size_t s_default_max_connections_per_uid = 64;

    // How long one access check may wait for the IAM daemon's answer.
    static constexpr std::chrono::milliseconds s_default_iam_timeout{200};
    static constexpr std::chrono::milliseconds s_max_iam_timeout{10000};

    std::string directory{s_default_directory};
    std::chrono::milliseconds call_timeout{s_default_call_timeout};
    std::size_t workers{s_default_workers};
    std::size_t max_connections{s_default_max_connections};
    std::size_t max_connections_per_uid{s_default_max_connections_per_uid};
    /// The IAM daemon's socket; access control is on when it is set.
    std::string iam_socket;
    Access_mode iam_mode{Access_mode::kEnforce};
    /// The TARN1_COM_IAM_MODE text when it named no mode (enforcing then), for the log.
    std::string iam_mode_unknown;
    std::chrono::milliseconds iam_timeout{s_default_iam_timeout};

    /// TARN1_COM_DIR, TARN1_COM_CALL_TIMEOUT_MS, TARN1_COM_WORKERS, TARN1_COM_MAX_CONNECTIONS,
    /// TARN1_COM_MAX_CONNECTIONS_PER_UID, TARN1_COM_IAM_SOCKET, TARN1_COM_IAM_MODE and
    /// TARN1_COM_IAM_TIMEOUT_MS override the defaults.
    static Settings from_environment();
};

/// Something the I/O thread serves: a socket, the inotify descriptor, a process descriptor.
class Io_handler
{
  public:
    virtual ~Io_handler() = default;
    /// On the I/O thread with the epoll events of the descriptor.
    virtual void on_io(std::uint32_t events) = 0;
};

/// Something with deadlines (a port with calls waiting for replies).
class Deadline_target
{
  public:
    virtual ~Deadline_target() = default;
    /// On the I/O thread when the deadline registered with this tag has passed.
    virtual void on_deadline(std::uint64_t tag) = 0;
};

/// One epoll loop: descriptor events, posted tasks and deadlines, run by the workers of the
/// runtime's pool. Every idle worker waits in poll_once() on the same epoll set; the kernel wakes one
/// of them per event, so whoever handles a request was already waiting for it and no thread is
/// woken just to hand work on. Handling is serialised by the turn: "the I/O thread" is whichever
/// worker holds it, and everything it runs is as ordered as on one thread. Each descriptor is
/// reported to one worker at a time (one-shot, re-armed after it is handled).
class Io_loop : public Poller
{
  public:
    Io_loop();
    ~Io_loop() override;

    Io_loop(const Io_loop&) = delete;
    Io_loop& operator=(const Io_loop&) = delete;

    /// Waits for events, then, holding the turn, handles them and runs the posted tasks and the
    /// deadlines that have passed. Any number of workers at once.
    void poll_once() override;
    /// Wakes one waiting worker; any thread.
    void interrupt() override { wake(); }
    /// Ends the loop once its workers are gone: runs the tasks still queued on the calling thread.
    void stop();

    /// Watches fd; any thread.
    void add(int fd, std::uint32_t events, std::shared_ptr<Io_handler> handler);
    void modify(int fd, std::uint32_t events);
    /// Stops watching fd; closing it is the caller's (on the I/O thread, so events never reach a reused fd).
    void remove(int fd);
    /// Takes fd out of the wait for a while (another thread reads it) without forgetting it;
    /// resume() puts it back with the given events. Any thread.
    void suspend(int fd);
    void resume(int fd, std::uint32_t events);
    void post(std::function<void()> task);
    void schedule(Clock::time_point when, std::weak_ptr<Deadline_target> target, std::uint64_t tag);
    bool in_loop_thread() const noexcept { return std::this_thread::get_id() == m_thread_id.load(); }

  private:
    struct Watched
    {
        std::uint32_t generation;
        std::shared_ptr<Io_handler> handler;
        std::uint32_t events;
        bool suspended{false};
    };
    struct Deadline
    {
        Clock::time_point when;
        std::uint64_t tag;
        std::weak_ptr<Deadline_target> target;
        bool operator>(const Deadline& other) const { return when > other.when; }
    };

    void wake();
    /// Under m_mutex: the epoll registration of a watched descriptor (one-shot unless edge-triggered).
    void arm(int fd, const Watched& watched, int operation);
    /// Under m_mutex: sets the timer to the earliest deadline.
    void arm_timer();
    void run_tasks_and_deadlines();

    int m_epoll{-1};
    int m_wake{-1};
    int m_timer{-1};
    // The turn: held while events, tasks and deadlines are handled.
    std::mutex m_turn;
    // The thread holding the turn (or running stop), if any.
    std::atomic<std::thread::id> m_thread_id{};
    // Guards the members below: met by the worker holding the turn and every thread adding
    // descriptors, posting tasks or scheduling deadlines.
    std::mutex m_mutex;
    std::unordered_map<int, Watched> m_watched;
    std::uint32_t m_generation{0};
    std::vector<std::function<void()>> m_tasks;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<Deadline>> m_deadlines;
    std::optional<Clock::time_point> m_timer_set_for;
    bool m_stopping{false};
    // Taken from the members above and run outside m_mutex; used by the thread holding the turn.
    std::vector<std::function<void()>> m_running;
    std::vector<Deadline> m_due;
};

/// One frame taken from a connection's bytes.
struct Frame
{
    someip::Message_header header;
    vela::com::runtime::Serialized_payload payload;
};

/// The bytes received on one connection, cut into frames; a frame begun is kept until the rest
/// of it arrives. The buffer grows once for a large frame and keeps that room until the frame is
/// complete, so a frame that trickles in byte by byte costs no reallocation per read; memory is
/// given back only between frames. Used by the thread reading the connection, under the
/// connection's read lock.
class Frame_buffer
{
  public:
    Frame_buffer();

    /// Room at the end of the buffer for the next receive (never less than a quarter of a read
    /// chunk).
    std::pair<std::uint8_t*, std::size_t> receive_space();
    /// Counts bytes written at the start of the room that receive_space gave.
    void commit_received(std::size_t count) noexcept { m_end += count; }
    /// Takes the next complete frame out of the buffer. Nothing when no whole frame is there yet
    /// (the buffer then has room for all of it), or when the next header is refused: check()
    /// then says why, and no further frame can be taken.
    std::optional<Frame> next_frame();
    /// kOk, or why the header in front was refused.
    someip::Header_check check() const noexcept { return m_check; }
    /// True when at least a header's worth of bytes waits to be taken.
    bool has_header() const noexcept { return m_end - m_begin >= someip::kHeader_size; }
    /// After a batch of frames was taken: moves what is left to the front and gives surplus memory
    /// back, unless a large frame is partly there or holding says that frames wait to be taken.
    void settle(bool holding) noexcept;

    std::size_t buffered() const noexcept { return m_end - m_begin; }
    std::size_t capacity() const noexcept { return m_bytes.size(); }
    /// How often the buffer was grown or shrunk (inspection).
    std::size_t resizes() const noexcept { return m_resizes; }

  private:
    void compact() noexcept;

    std::vector<std::uint8_t> m_bytes;
    // Received and not yet taken: [m_begin, m_end).
    std::size_t m_begin{0};
    std::size_t m_end{0};
    std::size_t m_resizes{0};
    // The frame in front is incomplete and at least a read chunk long: its room stays.
    bool m_keep_room{false};
    someip::Header_check m_check{someip::Header_check::kOk};
};

/// Receives what arrives on a connection; on the I/O thread.
class Connection_owner
{
  public:
    virtual ~Connection_owner() = default;
    virtual void on_frame(const std::shared_ptr<class Connection>& connection,
                          const someip::Message_header& header,
                          const vela::com::runtime::Serialized_payload& payload) = 0;
    virtual void on_closed(const std::shared_ptr<class Connection>& connection) = 0;
};

/// Who is at the other end of a unix socket, as the kernel recorded it when the connection was made.
struct Peer_credentials
{
    pid_t pid{0};
    uid_t uid{0};
    gid_t gid{0};
    /// False when the kernel would not tell (then the ids are 0).
    bool known{false};
};

/// One unix stream connection carrying framed messages. The I/O thread reads; any thread writes
/// (directly when the socket takes it, else through a bounded buffer flushed by the I/O thread).
class Connection : public Io_handler, public std::enable_shared_from_this<Connection>
{
  public:
    /// Bytes a slow peer may leave unread before the connection is dropped.
    static constexpr std::size_t s_max_pending_output = 8U * 1024U * 1024U;
    /// What a peer may make the provider hold at once: requests read whose handler has not started
    /// yet, and their payload bytes. The connection takes no further frame while the next one could
    /// exceed either.
    static constexpr std::size_t s_max_held_requests = 64;
    static constexpr std::size_t s_max_held_bytes = 4U * 1024U * 1024U;

    /// What the connection holds of its peer's input; for inspection.
    struct Input_state
    {
        std::size_t held_requests;
        std::size_t held_bytes;
        bool paused;
        /// Bytes read but not yet taken as frames, and the size of the buffer holding them.
        std::size_t buffered;
        std::size_t buffer_size;
        /// How often the buffer was grown or shrunk since the connection was opened.
        std::size_t buffer_resizes;
    };

    /// The credentials of the peer of a connected unix socket.
    static Peer_credentials credentials_of(int fd);

    /// How the I/O thread is told of data: kOnce reports the socket to one worker and re-arms it
    /// once handled, and lets a waiting caller take the socket over (read_here_until); kEdge reports
    /// each arrival and needs no re-arming (the provider side, which nobody reads but the I/O thread).
    enum class Reading
    {
        kOnce,
        kEdge
    };

    Connection(Io_loop& loop,
               int fd,
               std::weak_ptr<Connection_owner> owner,
               std::string peer_name,
               Peer_credentials peer,
               Reading reading);
    ~Connection() override;

    /// Starts reading; call once after construction.
    void open();
    /// Sends one message; false when the connection is closed. Any thread.
    bool send(const someip::Message_header& header, const std::uint8_t* payload, std::size_t size);
    /// Closes from any thread; the owner hears on_closed once, on the I/O thread.
    void close();
    /// Reads and handles frames on the calling thread until ready() holds, the connection fails or
    /// timeout passes; the I/O thread leaves the socket alone meanwhile. False (at once) when the
    /// connection cannot be read here: closing, output still queued, or another thread reading it.
    bool read_here_until(const std::function<bool()>& ready, std::chrono::milliseconds timeout);
    /// Takes the socket out of the I/O thread's wait for a caller about to wait for its reply
    /// (read_here_until then reads it without further ado). Any thread.
    void reserve();
    /// Gives a reservation that no reader has taken, made at or before the given time, back to the
    /// I/O thread; true when a newer one is left in place.
    bool unreserve_unless_newer_than(Clock::time_point made);
    /// Counts a request its owner took from on_frame for handling later (I/O thread). Without room
    /// for another request within the bounds, the connection takes no further frames until
    /// release_request makes room.
    void hold_request(std::size_t payload_bytes);
    /// Counts a held request as taken by its handler (or dropped); with room again, reading
    /// resumes. Any thread.
    void release_request(std::size_t payload_bytes);
    Input_state input_state() const;
    const std::string& peer_name() const noexcept { return m_peer_name; }
    const Peer_credentials& peer() const noexcept { return m_peer; }

    void on_io(std::uint32_t events) override;

  private:
    enum class Read_result
    {
        kMore,
        kEnd,
        kBad
    };

    /// One read and the frames it completes; filled when the read took all the room it had.
    Read_result read_frames(bool& filled);
    /// Hands the complete frames of the buffer to the owner, unless held requests pause the input.
    Read_result take_frames();
    /// Under m_held_mutex: whether one more request of the largest size fits within the bounds.
    bool room_for_a_request() const;
    /// Whether input is paused for held requests; if so, notes that input waits, so that the
    /// release making room reads it (the edge-triggered socket will not report it again). I/O thread.
    bool input_waits();
    bool reading_elsewhere() const;
    void flush_output();
    void close_on_loop();
    std::uint32_t wanted_events() const;

    Io_loop& m_loop;
    const bool m_edge_triggered;
    std::weak_ptr<Connection_owner> m_owner;
    std::string m_peer_name;
    const Peer_credentials m_peer;
    // Guards the input buffer: met by the I/O thread, a thread reading its own reply here, and
    // inspection.
    mutable std::mutex m_read_mutex;
    Frame_buffer m_in;
    enum Input : int
    {
        kReading,
        kPaused,
        // Paused, and input has come (or frames are buffered) since: resuming must read it.
        kPausedWithInput
    };
    // Guards the held requests: met by the I/O thread (taking requests) and the workers (done with
    // them). m_input is set to kPaused and back to kReading under it; the I/O thread reads it
    // without the lock and turns kPaused into kPausedWithInput.
    mutable std::mutex m_held_mutex;
    std::size_t m_held_requests{0};
    std::size_t m_held_bytes{0};
    std::atomic<int> m_input{kReading};
    // Guards the members below: met by every writing thread, the I/O thread and a thread reading here.
    // The two flags are written under it and also read without it, by readers that only look.
    std::mutex m_write_mutex;
    int m_fd;
    std::vector<std::uint8_t> m_out;
    std::size_t m_out_offset{0};
    std::atomic<bool> m_closing{false};
    bool m_closed{false};
    // A thread reads here; the descriptor stays open (a close waits for it) until it is done.
    std::atomic<bool> m_read_here{false};
    bool m_close_waiting{false};
    // Out of the I/O thread's wait for a reader who has not come yet, since m_reserved_at.
    bool m_reserved{false};
    Clock::time_point m_reserved_at{};
};

/// Hears of every change of the offered instances; on the I/O thread.
class Discovery_listener
{
  public:
    virtual ~Discovery_listener() = default;
    virtual void on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered) = 0;
};

/// The discovery directory: one entry file per offered instance, watched with inotify; entries of
/// providers that have died are recognised through process descriptors and removed.
class Discovery : public Io_handler, public std::enable_shared_from_this<Discovery>
{
  public:
    Discovery(Io_loop& loop, std::string directory);
    ~Discovery() override;

    /// Creates the directory if needed, watches it and reads it. Throws Infrastructure_exception.
    void start();
    void stop();
    const std::string& directory() const noexcept { return m_directory; }

    std::vector<cpp_binding::Service_handle> snapshot() const;
    void add_listener(std::weak_ptr<Discovery_listener> listener);
    /// Writes the entry file for an instance; returns its path.
    std::string publish(const cpp_binding::Service_handle& handle, const connector::Service_interface_description& d);
    void withdraw(const std::string& entry_file);
    /// Rereads the directory and tells the listeners when something changed; I/O thread (and start()).
    void rescan();

    void on_io(std::uint32_t events) override;

  private:
    class Process_watch;

    int m_inotify{-1};
    Io_loop& m_loop;
    std::string m_directory;
    // Guards m_entries and m_listeners: met by the I/O thread (rescans) and threads taking snapshots or
    // adding listeners.
    mutable std::mutex m_mutex;
    std::vector<cpp_binding::Service_handle> m_entries;
    std::vector<std::weak_ptr<Discovery_listener>> m_listeners;
    // Held for a whole rescan and guards m_pidfds: met by the I/O thread and the thread starting discovery.
    std::mutex m_scan_mutex;
    std::map<std::int32_t, int> m_pidfds;
};

/// The process-wide runtime: settings, worker pool, I/O thread, discovery.
class Runtime
{
  public:
    /// The running runtime, created on first use; lives while someone holds it.
    static std::shared_ptr<Runtime> acquire();
    /// The next acquire() makes a new runtime instead of handing out this one.
    static void retire(const Runtime* runtime);
    ~Runtime();

    const Settings& settings() const noexcept { return m_settings; }
    Io_loop& loop() noexcept { return m_loop; }
    static_thread_pool& pool() noexcept { return m_pool; }
    Discovery& discovery() noexcept { return *m_discovery; }
    std::uint64_t next_id() noexcept { return ++m_ids; }
    /// The process's access control; null when it is off (TARN1_COM_IAM_SOCKET unset).
    const std::shared_ptr<Access_control>& access() const noexcept { return m_access; }
    /// True on the I/O thread or a worker of the default pool.
    bool is_runtime_thread() const { return m_loop.in_loop_thread() || m_pool.running_in_this_thread(); }

  private:
    Runtime();

    Settings m_settings;
    // The loop is made before and ends after the pool whose workers run it.
    Io_loop m_loop;
    static_thread_pool m_pool;
    std::shared_ptr<Discovery> m_discovery;
    std::shared_ptr<Access_control> m_access;
    std::atomic<std::uint64_t> m_ids{0};
};

/// The provider side of one instance: listening socket, discovery entry, connections,
/// subscriptions and field values.
class Pport_core : public Connection_owner, public std::enable_shared_from_this<Pport_core>
{
  public:
    Pport_core(std::shared_ptr<Runtime> runtime,
               vela::com::runtime::Service_id service,
               vela::com::runtime::Instance_id instance,
               connector::Service_interface_description description);
    ~Pport_core() override;

    void start_offer();
    void stop_offer();
    bool is_offered() const;
    void notify(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& payload);
    void set_field(std::uint16_t event_id,
                   std::optional<std::uint16_t> getter,
                   const vela::com::runtime::Serialized_payload& value);
    void set_dispatcher(std::weak_ptr<class Dispatcher_core> dispatcher);

    enum class Accept_result
    {
        /// Nothing more is waiting.
        kDone,
        /// More may be waiting; the listening socket reports them again.
        kMore,
        /// Out of descriptors or memory: listen again after s_accept_pause.
        kPause
    };
    static constexpr std::chrono::milliseconds s_accept_pause{100};
    /// Accepts what waits on the listening socket, a bounded number per call; closes at once the
    /// connections beyond the bounds of the settings. I/O thread.
    Accept_result accept_connections(int listen_fd);
    /// The open connections, for inspection. Any thread.
    std::vector<std::shared_ptr<Connection>> connections() const;

    void on_frame(const std::shared_ptr<Connection>& connection,
                  const someip::Message_header& header,
                  const vela::com::runtime::Serialized_payload& payload) override;
    void on_closed(const std::shared_ptr<Connection>& connection) override;

    const Runtime& runtime() const noexcept { return *m_runtime; }

    /// Distinct events one connection may subscribe to; further subscriptions are ignored.
    static constexpr std::size_t s_max_subscriptions = 64;

  private:
    struct Field
    {
        std::optional<std::uint16_t> getter;
        vela::com::runtime::Serialized_payload value;
    };
    /// What the port keeps per connection.
    struct Peer
    {
        std::size_t subscriptions{0};
        /// The connection's access decisions, when access control is on.
        std::shared_ptr<Access_gate> gate;
    };

    /// The access gate of a new connection whose peer is identity. Under m_mutex.
    std::shared_ptr<Access_gate> make_gate(const std::shared_ptr<Access_control>& access,
                                           const Peer_identity& identity,
                                           const std::shared_ptr<Connection>& connection);
    /// What the frame asks for, done: a call dispatched, a subscription taken, a field's getter
    /// answered. I/O thread.
    void handle_frame(const std::shared_ptr<Connection>& connection,
                      const someip::Message_header& header,
                      const vela::com::runtime::Serialized_payload& payload);
    /// A frame its access gate has decided: handled when allowed, answered "access denied" when
    /// not. I/O thread.
    void deliver(const std::shared_ptr<Connection>& connection,
                 const someip::Message_header& header,
                 const vela::com::runtime::Serialized_payload& payload,
                 bool allowed);
    void reply(const std::shared_ptr<Connection>& connection,
               const someip::Message_header& request,
               std::uint8_t code,
               const vela::com::runtime::Serialized_payload* payload);
    void send_notification(Connection& connection,
                           std::uint16_t event_id,
                           const vela::com::runtime::Serialized_payload& payload);

    std::shared_ptr<Runtime> m_runtime;
    vela::com::runtime::Service_id m_service;
    vela::com::runtime::Instance_id m_instance;
    connector::Service_interface_description m_description;
    std::uint16_t m_numeric_id;
    // Accepting has failed for lack of resources since a connection was last accepted; only the
    // I/O thread uses it.
    bool m_accept_failing{false};
    // Guards everything below: met by the I/O thread (accepting, receiving) and the threads that
    // offer, withdraw, notify and update fields.
    mutable std::mutex m_mutex;
    bool m_offered{false};
    int m_listen_fd{-1};
    std::string m_endpoint;
    std::string m_entry_file;
    std::unordered_map<std::shared_ptr<Connection>, Peer> m_connections;
    // Open connections per peer uid, root's not counted.
    std::unordered_map<uid_t, std::size_t> m_connections_per_uid;
    std::map<std::uint16_t, std::vector<std::shared_ptr<Connection>>> m_subscribers;
    std::map<std::uint16_t, Field> m_fields;
    std::weak_ptr<Dispatcher_core> m_dispatcher;
};

/// Runs the incoming calls of one skeleton on its strand.
class Dispatcher_core : public std::enable_shared_from_this<Dispatcher_core>
{
  public:
    explicit Dispatcher_core(std::shared_ptr<Runtime> runtime);
    ~Dispatcher_core();

    void start();
    void stop();
    void add_method(std::uint16_t id, const cpp_binding::Method_impl_base* method);
    void remove_method(std::uint16_t id);
    /// From the I/O thread: queues the call on the strand.
    void dispatch(const cpp_binding::Reply_token& reply, const vela::com::runtime::Serialized_payload& request);

  private:
    void run(const cpp_binding::Reply_token& reply, const vela::com::runtime::Serialized_payload& request);
    void wait_until_idle();

    std::shared_ptr<Runtime> m_runtime;
    Strand m_strand;
    // Held while a handler runs: stop() and remove_method() take it to wait for the handler's end.
    std::mutex m_run_mutex;
    // Guards m_started and m_methods: met by the strand's worker and the threads offering or withdrawing.
    std::mutex m_mutex;
    bool m_started{false};
    std::map<std::uint16_t, const cpp_binding::Method_impl_base*> m_methods;
};

/// The consumer side of one instance: connection, calls waiting for replies, subscriptions.
class Rport_core : public Connection_owner,
                   public Deadline_target,
                   public Discovery_listener,
                   public vela::com::detail::Wait_helper,
                   public std::enable_shared_from_this<Rport_core>
{
  public:
    Rport_core(std::shared_ptr<Runtime> runtime,
               cpp_binding::Service_handle handle,
               connector::Service_interface_description description);
    ~Rport_core() override;

    void start();
    void shutdown();
    vela::com::Future<vela::com::runtime::Serialized_payload> call(std::uint16_t method_id,
                                                                   const vela::com::runtime::Serialized_payload& args);
    void subscribe(std::uint16_t event_id, std::size_t max_samples);
    void unsubscribe(std::uint16_t event_id);
    void set_receive_handler(std::uint16_t event_id, std::function<void()> handler);
    void unset_receive_handler(std::uint16_t event_id);
    std::size_t take_samples(std::uint16_t event_id, std::vector<vela::com::runtime::Serialized_payload>& out);
    bool is_connected() const;
    void set_call_timeout(std::chrono::milliseconds timeout);
    /// Logs a sample of event_id that could not be decoded, at most once per second per event and
    /// connection. Any thread.
    void report_undecodable(std::uint16_t event_id, std::size_t payload_bytes);

    void on_frame(const std::shared_ptr<Connection>& connection,
                  const someip::Message_header& header,
                  const vela::com::runtime::Serialized_payload& payload) override;
    void on_closed(const std::shared_ptr<Connection>& connection) override;
    void on_deadline(std::uint64_t tag) override;
    void on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered) override;
    /// A thread waiting for a reply reads the connection itself (unless it is the I/O thread).
    void help_wait(const std::function<bool()>& ready) override;

  private:
    static constexpr std::uint64_t s_reservation_tag = 1;
    static constexpr std::chrono::milliseconds s_reservation_grace{2};

    struct Pending
    {
        Clock::time_point deadline;
        vela::com::Promise<vela::com::runtime::Serialized_payload> promise;
    };
    struct Event
    {
        bool subscribed{false};
        std::size_t max_samples{1};
        std::deque<vela::com::runtime::Serialized_payload> samples;
        std::function<void()> handler;
        bool handler_posted{false};
    };

    /// Connects to the instance of handle unless connected already; false when it cannot (or, with
    /// access control on, when another process than the entry's serves the socket).
    bool connect_to(const cpp_binding::Service_handle& handle);
    /// Whether the process that serves a socket is the one its entry names; logs why not.
    static bool served_by_entry(const cpp_binding::Service_handle& handle, const Peer_credentials& provider);
    /// Logs that the provider refused the subscription to event_id (at most once per second per
    /// event and connection). I/O thread.
    void report_refused_subscription(std::uint16_t event_id, std::uint8_t return_code);
    void send_subscription(Connection& connection, std::uint16_t event_id, someip::Message_type type);
    void run_receive_handler(std::uint16_t event_id);
    void fail_all_pending(const std::string& reason);
    void check_reservation();

    std::shared_ptr<Runtime> m_runtime;
    connector::Service_interface_description m_description;
    std::uint16_t m_numeric_id;
    std::uint16_t m_client_id;
    Strand m_strand;
    // Held while a receive handler runs; unset_receive_handler takes it to wait for the handler's end.
    std::mutex m_handler_mutex;
    // Guards everything below: met by the I/O thread (replies, notifications, reconnection, timeouts),
    // the calling threads and the strand's worker.
    mutable std::mutex m_mutex;
    cpp_binding::Service_handle m_handle;
    std::shared_ptr<Connection> m_connection;
    // Counts the connections made, so that log limits apply per connection.
    std::uint64_t m_connection_serial{0};
    bool m_shut_down{false};
    std::chrono::milliseconds m_timeout;
    std::uint16_t m_next_session{0};
    std::optional<Clock::time_point> m_armed_deadline;
    bool m_reservation_check_armed{false};
    std::unordered_map<std::uint16_t, Pending> m_pending;
    std::map<std::uint16_t, Event> m_events;
    // Undecodable notifications and refused subscriptions, per event and connection.
    tarn1::log_limit::Log_rate_limiter m_undecodable_log{std::chrono::seconds(1), 1, 16};
};

/// One running search of a service finder.
class Search : public Discovery_listener, public std::enable_shared_from_this<Search>
{
  public:
    Search(std::shared_ptr<Runtime> runtime,
           cpp_binding::Find_service_handler handler,
           vela::com::runtime::Service_id service,
           vela::com::runtime::Instance_id instance);

    void start();
    void stop();
    /// Hands the matching instances to the handler when they changed. Lists that come while the
    /// handler has not yet run for the one before are merged: it gets the newest. I/O thread.
    void on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered) override;

  private:
    /// On the strand: the newest list to the handler.
    void hand_over();

    std::shared_ptr<Runtime> m_runtime;
    cpp_binding::Find_service_handler m_handler;
    vela::com::runtime::Service_id m_service;
    vela::com::runtime::Instance_id m_instance;
    Strand m_strand;
    // Guards the members below: met by the I/O thread, the strand's worker and the stopping thread.
    std::mutex m_mutex;
    std::optional<std::vector<cpp_binding::Service_handle>> m_last;
    // The list waiting for the handler, and whether a hand-over is queued on the strand for it.
    std::optional<std::vector<cpp_binding::Service_handle>> m_next;
    bool m_hand_over_queued{false};
    bool m_stopped{false};
};

/// An exception_ptr to a new E. Made by throwing, so no temporary shares the error's text with the
/// thread that later catches it (the text's reference count lives outside the sanitizers' view).
template <typename E, typename... A> std::exception_ptr make_error(A&&... arguments)
{
    try
    {
        throw E(std::forward<A>(arguments)...);
    }
    catch (...)
    {
        return std::current_exception();
    }
}

/// The handle that the text of one discovery entry describes ("key=value" lines, at most 4 KiB),
/// or nothing when the text names no service, instance, endpoint and live-looking pid.
std::optional<cpp_binding::Service_handle> parse_discovery_entry(std::istream& text);

/// Matching instances of a list: same service, and the instance unless it is "*".
std::vector<cpp_binding::Service_handle> filter_handles(const std::vector<cpp_binding::Service_handle>& all,
                                                        const vela::com::runtime::Service_id& service,
                                                        const vela::com::runtime::Instance_id& instance);

} // namespace kest::com::internal
