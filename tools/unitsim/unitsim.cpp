// The stand-in server: one accept thread and one thread per connection. Every piece of
// state shared between them lives in Server::Impl under one mutex; the sockets belong to
// the thread that serves them, and stop() only shuts them down to wake that thread.
#include "unitsim.h"
#include "sim_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace unitsim {

namespace {

using SteadyClock = std::chrono::steady_clock;

const int kWaitSliceMs = 20; // how soon a serving thread notices stop()
const size_t kMaxLine = 4096;
const int kLoginTries = 3; // wrong logins before the unit closes the connection

struct Conn {
    int number = 0;
    SimSocket sock = kNoSocket; // guarded by Impl::mu; kNoSocket once its thread closed it
    std::thread thread;
    std::atomic<bool> done{false};
};

// Splits the byte stream into lines. A line ends at CR or LF; the LF of a CR LF pair is
// part of the same terminator, even when it arrives in a later read. NUL bytes (a telnet
// client sends CR NUL) and telnet option negotiation (IAC sequences, which a telnet client
// used by hand may send) are dropped.
struct LineReader {
    std::string pending;
    std::string line;
    bool last_cr = false;
    enum { plain, iac, iac_option, sub, sub_iac } telnet = plain;

    // True when c belongs to a telnet command and is to be dropped.
    bool telnet_byte(unsigned char c) {
        switch (telnet) {
        case plain:
            if (c != 0xFF) return false;
            telnet = iac;
            return true;
        case iac: // WILL, WONT, DO, DONT take an option byte; SB opens a subnegotiation
            telnet = c >= 0xFB && c <= 0xFE ? iac_option : c == 0xFA ? sub : plain;
            return true;
        case iac_option:
            telnet = plain;
            return true;
        case sub:
            if (c == 0xFF) telnet = sub_iac;
            return true;
        case sub_iac:
            telnet = c == 0xF0 ? plain : sub;
            return true;
        }
        return false;
    }

    bool take(std::string* out) {
        for (size_t i = 0; i < pending.size(); ++i) {
            char c = pending[i];
            if (telnet_byte(static_cast<unsigned char>(c))) continue;
            bool skip_lf = last_cr && c == '\n';
            last_cr = false;
            if (skip_lf || c == '\0') continue;
            if (c == '\r' || c == '\n') {
                last_cr = c == '\r';
                *out = line;
                line.clear();
                pending.erase(0, i + 1);
                return true;
            }
            if (line.size() < kMaxLine) line += c;
        }
        pending.clear();
        return false;
    }
};

bool fault_matches(const Fault& f, const std::string& command, int connection) {
    return f.times != 0 && (f.command.empty() || f.command == command) &&
           (f.connection == 0 || f.connection == connection);
}

std::string reply_text(const Config& config, const Clock& clock, const std::string& command,
                       const Fault* fault, ReplyKind* kind) {
    std::string output = unit_output(config, clock, command, kind);
    if (fault && fault->has_output) output = fault->output;
    std::string text = command + "\r\n" + output;
    // A restarting unit prints no prompt; a no_prompt or endless fault leaves it out.
    if (*kind != ReplyKind::power_cycle &&
        !(fault && (fault->no_prompt || fault->endless_pause_ms >= 0)))
        text += kPrompt;
    return text;
}

} // namespace

struct Server::Impl {
    mutable std::mutex mu;
    mutable std::condition_variable cv; // stats changed, or stop
    Config config;
    std::vector<Fault> faults;
    Stats stats;
    int serial = 0; // connections numbered since start, not reset by clear_stats()
    SteadyClock::time_point started;
    SteadyClock::time_point boot; // uptime counts from here
    double up_base = kInitialUptime;
    SteadyClock::time_point refuse_until;
    std::function<void(int, const std::string&)> log;

    std::atomic<bool> stopping{false};
    bool running = false; // only touched by start() and stop()
    SimSocket listener = kNoSocket;
    std::vector<SimSocket> fillers; // never_answer: connects that keep the backlog full
    bool refusing = false;          // refuse_all: the listener is bound, not listening
    int port = -1;
    std::thread acceptor;
    std::list<std::unique_ptr<Conn>> conns; // guarded by mu

    explicit Impl(const Config& c) : config(c) {
        started = boot = refuse_until = SteadyClock::now();
    }

    Clock clock_now() const { // with mu held
        SteadyClock::time_point now = SteadyClock::now();
        Clock t;
        t.live_s = std::chrono::duration<double>(now - started).count();
        double since_boot = std::chrono::duration<double>(now - boot).count();
        t.up_s = up_base + (since_boot > 0 ? since_boot : 0);
        return t;
    }

    // Waits ms milliseconds; true when stop() came first.
    bool pause(int ms) {
        if (ms <= 0) return stopping.load();
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
    }

    void note(int connection, const std::string& text) {
        std::function<void(int, const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(mu);
            hook = log;
        }
        if (hook) hook(connection, text);
    }

    bool read_line(SimSocket s, LineReader& reader, std::string* line) {
        for (;;) {
            if (reader.take(line)) return true;
            if (stopping.load()) return false;
            int ready = sim_wait_readable(s, kWaitSliceMs);
            if (ready < 0) return false;
            if (ready == 0) continue;
            char buf[1024];
            int n = sim_recv(s, buf, sizeof buf);
            if (n <= 0) return false;
            reader.pending.append(buf, static_cast<size_t>(n));
        }
    }

    // Sends text cut at the given offsets, pausing between the pieces.
    bool send_pieces(SimSocket s, const std::string& text, std::vector<size_t> cuts, int pause_ms) {
        std::sort(cuts.begin(), cuts.end());
        size_t from = 0;
        for (size_t at : cuts) {
            if (at <= from || at >= text.size()) continue;
            if (!sim_send_all(s, text.data() + from, at - from)) return false;
            from = at;
            if (pause(pause_ms)) return false;
        }
        return sim_send_all(s, text.data() + from, text.size() - from);
    }

    // The output without end until the viewer goes or the stand-in stops: a flood in batches
    // of a few kilobytes, or one copy per pause.
    void send_endless(SimSocket s, std::string output, int pause_ms) {
        if (output.empty()) output = "\r\n";
        std::string batch = output;
        while (pause_ms == 0 && batch.size() < 4096)
            batch += output;
        while (sim_send_all(s, batch.data(), batch.size()) && !pause(pause_ms)) {
        }
    }

    // Ends our side gracefully: the peer reads everything sent, then sees the close.
    // Input is drained briefly so the close does not turn into a reset that could discard
    // the reply's last bytes at the peer.
    void close_gently(SimSocket s) {
        sim_shutdown_send(s);
        for (int i = 0; i < 25 && !stopping.load(); ++i) {
            int ready = sim_wait_readable(s, kWaitSliceMs);
            if (ready < 0) return;
            if (ready == 0) continue;
            char buf[512];
            if (sim_recv(s, buf, sizeof buf) <= 0) return;
        }
    }

    bool login(int number, SimSocket s, LineReader& reader) {
        Config c;
        {
            std::lock_guard<std::mutex> lock(mu);
            c = config;
        }
        std::string line;
        if (c.never_login) { // listen, record, never ask
            while (read_line(s, reader, &line))
                record_login_answer(number, line);
            return false;
        }
        if (c.login_babble_ms >= 0) { // a port that streams GPS sentences, never a login
            send_endless(s, "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,*47\r\n",
                         c.login_babble_ms);
            return false;
        }
        for (int tries = 1;; ++tries) {
            {
                std::lock_guard<std::mutex> lock(mu);
                c = config;
            }
            if (pause(c.login_delay_ms)) return false;
            if (!send_pieces(s, "login: ", c.login_split, c.login_split_pause_ms)) return false;
            std::string user, password;
            if (!read_line(s, reader, &user)) return false;
            record_login_answer(number, user);
            note(number, "login answer: " + user);
            if (!sim_send_all(s, "Password: ", 10)) return false;
            if (!read_line(s, reader, &password)) return false;
            record_login_answer(number, password);
            bool ok;
            {
                std::lock_guard<std::mutex> lock(mu);
                ok = user == config.user && password == config.password;
                if (ok)
                    ++stats.logins;
                else
                    ++stats.failed_logins;
                c = config;
            }
            cv.notify_all();
            note(number, ok ? "logged in as " + user : "login incorrect for " + user);
            if (ok) {
                std::string welcome = unit_banner(c) + kPrompt;
                return sim_send_all(s, welcome.data(), welcome.size());
            }
            if (!sim_send_all(s, "\r\nLogin incorrect\r\n", 19)) return false;
            // As a real login does: three wrong tries and the connection is closed.
            if (tries >= kLoginTries) {
                close_gently(s);
                return false;
            }
        }
    }

    void record_login_answer(int /*number*/, const std::string& line) {
        {
            std::lock_guard<std::mutex> lock(mu);
            stats.login_answers.push_back(line);
        }
        cv.notify_all();
    }

    // The unit restarts: every connection drops and none is taken for restart_ms.
    void begin_restart(int number) {
        std::lock_guard<std::mutex> lock(mu);
        SteadyClock::time_point now = SteadyClock::now();
        refuse_until = now + std::chrono::milliseconds(config.restart_ms);
        boot = refuse_until;
        up_base = 0;
        for (auto& c : conns)
            if (c->number != number && c->sock != kNoSocket) sim_shutdown_both(c->sock);
    }

    // Answers one command line; false when the connection is to be closed.
    bool answer(int number, SimSocket s, const std::string& command) {
        Config c;
        Clock t;
        Fault fault;
        bool faulty = false;
        {
            std::lock_guard<std::mutex> lock(mu);
            c = config;
            t = clock_now();
            for (Fault& f : faults) {
                if (!fault_matches(f, command, number)) continue;
                if (f.times > 0) --f.times;
                fault = f;
                faulty = true;
                break;
            }
        }
        ReplyKind kind;
        std::string text = reply_text(c, t, command, faulty ? &fault : nullptr, &kind);
        // A silent fault on "cmd pwrmode 2" is a unit that ignores it: it stays up.
        bool restart = kind == ReplyKind::power_cycle && !(faulty && fault.silence);
        // The refusal starts before the echo leaves, so a quick reconnect is refused too.
        if (restart) begin_restart(number);
        if (!faulty) {
            if (!sim_send_all(s, text.data(), text.size())) return false;
        } else if (!fault.silence) {
            if (pause(fault.delay_ms)) return false;
            size_t limit = text.size();
            if (fault.close_after >= 0 && static_cast<size_t>(fault.close_after) < limit)
                limit = static_cast<size_t>(fault.close_after);
            if (!send_pieces(s, text.substr(0, limit), fault.split_at, fault.split_pause_ms))
                return false;
            if (fault.close_after >= 0) {
                note(number, "closing mid-reply");
                close_gently(s);
                return false;
            }
            if (fault.endless_pause_ms >= 0) {
                send_endless(s, text.substr(command.size() + 2), fault.endless_pause_ms);
                return false;
            }
        }
        if (restart) {
            note(number, "restarting");
            close_gently(s);
            return false;
        }
        return true;
    }

    void serve(Conn* conn, SimSocket s) {
        const int number = conn->number;
        note(number, "connection accepted");
        LineReader reader;
        if (login(number, s, reader)) {
            std::string line;
            while (read_line(s, reader, &line)) {
                {
                    std::lock_guard<std::mutex> lock(mu);
                    stats.commands.push_back(line);
                }
                cv.notify_all();
                note(number, line);
                if (!answer(number, s, line)) break;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mu);
            conn->sock = kNoSocket;
        }
        sim_close(s);
        note(number, "connection closed");
        conn->done.store(true);
    }

    void reap_finished() {
        std::list<std::unique_ptr<Conn>> finished;
        {
            std::lock_guard<std::mutex> lock(mu);
            for (auto it = conns.begin(); it != conns.end();) {
                if ((*it)->done.load()) {
                    finished.push_back(std::move(*it));
                    it = conns.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& c : finished)
            c->thread.join();
    }

    void accept_loop() {
        while (!stopping.load()) {
            if (!fillers.empty() || refusing) { // never_answer, refuse_all: nothing to accept
                pause(kWaitSliceMs);
                continue;
            }
            int ready = sim_wait_readable(listener, kWaitSliceMs);
            reap_finished();
            if (ready <= 0) {
                if (ready < 0) pause(kWaitSliceMs);
                continue;
            }
            SimSocket s = sim_accept(listener);
            if (s == kNoSocket) continue;
            int number = 0;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (SteadyClock::now() < refuse_until) {
                    ++stats.refused;
                } else {
                    number = ++serial;
                    ++stats.connections;
                    std::unique_ptr<Conn> conn(new Conn);
                    conn->number = number;
                    conn->sock = s;
                    Conn* raw = conn.get();
                    conn->thread = std::thread(&Impl::serve, this, raw, s);
                    conns.push_back(std::move(conn));
                }
            }
            cv.notify_all();
            if (number == 0) {
                sim_close(s);
                note(0, "connection refused: restarting");
            }
        }
    }
};

Server::Server(Config config) : impl_(new Impl(config)) {}

Server::~Server() {
    stop();
}

int Server::start(int port, const char* host) {
    Impl& m = *impl_;
    if (m.running) return m.port;
    if (!sim_net_start()) return -1;
    int bound = -1;
    bool never_answer;
    {
        std::lock_guard<std::mutex> lock(m.mu);
        never_answer = m.config.never_answer;
        m.refusing = m.config.refuse_all;
    }
    if (!host) host = "127.0.0.1";
    SimSocket s = sim_listen(host, port, &bound, m.refusing ? -1 : never_answer ? 0 : 16);
    if (s == kNoSocket) {
        sim_net_end();
        return -1;
    }
    // A full backlog that is never accepted from: the system drops further SYNs unanswered.
    for (int i = 0; never_answer && i < 4; ++i)
        m.fillers.push_back(sim_connect_pending(host, bound));
    if (never_answer) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> lock(m.mu);
        m.started = m.boot = SteadyClock::now();
        m.up_base = kInitialUptime;
        m.refuse_until = m.started;
    }
    m.listener = s;
    m.port = bound;
    m.stopping.store(false);
    m.running = true;
    m.acceptor = std::thread(&Impl::accept_loop, &m);
    return bound;
}

void Server::stop() {
    Impl& m = *impl_;
    if (!m.running) return;
    {
        std::lock_guard<std::mutex> lock(m.mu);
        m.stopping.store(true);
        for (auto& c : m.conns)
            if (c->sock != kNoSocket) sim_shutdown_both(c->sock);
    }
    m.cv.notify_all();
    m.acceptor.join();
    // No connection is added any more; each thread sees the stop within one wait slice.
    std::list<std::unique_ptr<Conn>> all;
    {
        std::lock_guard<std::mutex> lock(m.mu);
        all.swap(m.conns);
    }
    for (auto& c : all)
        c->thread.join();
    for (SimSocket f : m.fillers)
        sim_close(f);
    m.fillers.clear();
    sim_close(m.listener);
    m.listener = kNoSocket;
    m.port = -1;
    m.running = false;
    m.stopping.store(false);
    sim_net_end();
}

int Server::port() const {
    return impl_->port;
}

void Server::add_fault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.push_back(fault);
}

void Server::clear_faults() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.clear();
}

void Server::set_config(const Config& config) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->config = config;
}

Config Server::config() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->config;
}

Stats Server::stats() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->stats;
}

void Server::clear_stats() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->stats = Stats();
}

bool Server::wait_commands(size_t count, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [this, count] { return impl_->stats.commands.size() >= count; });
}

bool Server::wait_logins(int count, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [this, count] { return impl_->stats.logins >= count; });
}

std::string Server::reply_for(const std::string& command) const {
    Config c;
    Clock t;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        c = impl_->config;
        t = impl_->clock_now();
    }
    ReplyKind kind;
    return reply_text(c, t, command, nullptr, &kind);
}

void Server::set_log(std::function<void(int, const std::string&)> log) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->log = std::move(log);
}

} // namespace unitsim
