// The console link against a scripted loopback peer (tick-exact cases) and the unit stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "link/console_link.h"
#include "link/link_flags.h"
#include "link/link_timing.h"
#include "link/socket_layer.h"
#include "link/unit_console.h"
#include "status/device_record.h"
#include "unitsim.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
typedef SOCKET RawSocket;
const RawSocket kNoRaw = INVALID_SOCKET;
void raw_close(RawSocket s) {
    closesocket(s);
}
#else
typedef int RawSocket;
const RawSocket kNoRaw = -1;
void raw_close(RawSocket s) {
    close(s);
}
#endif

typedef std::chrono::steady_clock Clock;

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Waits until the loops have waited `target` idle ticks in total. False after timeout_ms.
bool wait_ticks(unsigned long target, int timeout_ms = 10000) {
    Clock::time_point start = Clock::now();
    while (idle_ticks_waited.load() < target) {
        if (elapsed_ms(start) > timeout_ms) return false;
        std::this_thread::yield();
    }
    return true;
}

// A one-connection loopback peer that plays a script on its own thread, with the test's own
// socket calls. The connection stays open after the script until the peer is destroyed.
class ScriptPeer {
  public:
    explicit ScriptPeer(std::function<void(ScriptPeer&)> script) : script_(std::move(script)) {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(0x0202, &data);
#endif
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 4);
#ifdef _WIN32
        int length = sizeof addr;
#else
        socklen_t length = sizeof addr;
#endif
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptPeer() {
        quit_.store(true);
        if (thread_.joinable()) thread_.join();
        if (conn_ != kNoRaw) raw_close(conn_);
        raw_close(listener_);
#ifdef _WIN32
        WSACleanup();
#endif
    }

    int port() const {
        return port_;
    }
    bool accepted() const {
        return accepted_.load();
    }
    bool script_done() const {
        return script_done_.load();
    }
    // Waits until the script has run to its end.
    bool wait_done(int timeout_ms = 10000) const {
        Clock::time_point start = Clock::now();
        while (!script_done_.load()) {
            if (elapsed_ms(start) > timeout_ms) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // For the script.
    void send_text(const std::string& text) {
        size_t sent = 0;
        while (sent < text.size()) {
            int n = ::send(conn_, text.data() + sent, static_cast<int>(text.size() - sent), 0);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }
    // Reads until `count` bytes have come, the viewer closes, or timeout_ms passes.
    std::string read_bytes(size_t count, int timeout_ms = 5000) {
        std::string got;
        Clock::time_point start = Clock::now();
        while (got.size() < count && elapsed_ms(start) < timeout_ms) {
            if (!readable(conn_, 10)) continue;
            char buffer[256];
            size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
            int n = ::recv(conn_, buffer, static_cast<int>(want), 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        received_ += got;
        return got;
    }
    void close_conn() {
        raw_close(conn_);
        conn_ = kNoRaw;
    }
    // Everything read from the viewer, for the test after the script has ended.
    std::string received() const {
        return received_;
    }

  private:
    static bool readable(RawSocket s, int ms) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {0, ms * 1000};
        return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
    }
    void run() {
        while (!quit_.load()) {
            if (!readable(listener_, 10)) continue;
            conn_ = accept(listener_, nullptr, nullptr);
            if (conn_ == kNoRaw) return;
            accepted_.store(true);
            script_(*this);
            script_done_.store(true);
            return;
        }
    }

    std::function<void(ScriptPeer&)> script_;
    RawSocket listener_ = kNoRaw;
    RawSocket conn_ = kNoRaw;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<bool> script_done_{false};
    std::string received_; // written by the script thread; read after wait_done()
};

void set_settings(const char* ip, const char* port, const char* user, const char* password) {
    snprintf(device.ip, sizeof device.ip, "%s", ip);
    snprintf(device.port, sizeof device.port, "%s", port);
    snprintf(device.username, sizeof device.username, "%s", user);
    snprintf(device.password, sizeof device.password, "%s", password);
}

class ConsoleLink : public ::testing::Test {
  protected:
    void SetUp() override {
        device_record_init();
        request_flags.store(0);
        reconnect_request.store(0);
        stop_reset();
        tick_ms.store(2);
        second_ms.store(10);
    }
    void TearDown() override {
        link_close(device);
        reconnect_request.store(0);
        stop_reset();
        tick_ms.store(100);
        second_ms.store(1000);
    }
    // Opens the link to a loopback port into device.socket.
    intptr_t open_to(int port) {
        char text[16];
        snprintf(text, sizeof text, "%d", port);
        set_settings("127.0.0.1", text, "admin\r", "secret\r");
        intptr_t s = link_open(device);
        device.socket.store(s);
        return s;
    }

    char reply[REPLY_BUFFER_SIZE];
};

// ---- link_receive -------------------------------------------------------------------------

TEST_F(ConsoleLink, PromptSplitAcrossChunksCompletesWithTheSecondPiece) {
    ScriptPeer peer([](ScriptPeer& p) {
        unsigned long base = idle_ticks_waited.load();
        p.send_text("cmd esn\r\n012345678901234\r\nVORL");
        wait_ticks(base + 3); // the viewer has taken the first piece and is waiting again
        p.send_text("IX:/#");
    });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_STREQ(reply, "cmd esn\r\n012345678901234\r\nVORLIX:/#");
}

TEST_F(ConsoleLink, ReplyLongerThanTheBufferWithoutPromptKeepsTheFirst2048) {
    std::string text;
    for (int i = 0; text.size() < 3000; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    text.resize(3000);
    ScriptPeer peer([&text](ScriptPeer& p) { p.send_text(text); });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    // The buffer sits inside a larger block whose tail must stay untouched.
    char block[REPLY_BUFFER_SIZE + 16];
    memset(block, 'Z', sizeof block);
    EXPECT_FALSE(link_receive(s, block, REPLY_BUFFER_SIZE, DEVICE_PROMPT, 30));
    EXPECT_EQ(strlen(block), 2048u);
    EXPECT_EQ(std::string(block, 2048), text.substr(0, 2048));
    for (size_t i = REPLY_BUFFER_SIZE; i < sizeof block; ++i)
        ASSERT_EQ(block[i], 'Z');
}

TEST_F(ConsoleLink, PromptWithinTheFirst2048CountsWhenTheLastChunkOverflows) {
    std::string first(1500, 'a');
    std::string second = std::string(500, 'b') + "\r\nVORLIX:/#" + std::string(1000, 'c');
    ScriptPeer peer([&](ScriptPeer& p) {
        unsigned long base = idle_ticks_waited.load();
        p.send_text(first);
        wait_ticks(base + 3);
        p.send_text(second);
    });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_EQ(strlen(reply), 2048u);
    EXPECT_EQ(std::string(reply), (first + second).substr(0, 2048));
}

TEST_F(ConsoleLink, WithoutMarkerTheFirstChunkIsTheReplyAndTheRestStaysQueued) {
    std::atomic<bool> first_taken{false};
    ScriptPeer peer([&](ScriptPeer& p) {
        p.send_text("first");
        while (!first_taken.load())
            std::this_thread::yield();
        p.send_text("second");
    });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, nullptr, 30));
    EXPECT_STREQ(reply, "first");
    first_taken.store(true);
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, nullptr, 30));
    EXPECT_STREQ(reply, "second");
}

TEST_F(ConsoleLink, SilenceEndsTheReceiveAfterLimitTimesTenPlusOneIdleTicks) {
    ScriptPeer peer([](ScriptPeer&) {});
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    unsigned long base = idle_ticks_waited.load();
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_EQ(idle_ticks_waited.load() - base, 301u);
    EXPECT_STREQ(reply, "");
    base = idle_ticks_waited.load();
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 0));
    EXPECT_EQ(idle_ticks_waited.load() - base, 1u);
}

// The byte must arrive while the viewer waits out its 300th idle tick. The peer slows the
// ticks down just before it (changing tick_ms), so it can act inside that one tick; the byte
// ends the tick early. A peer that was scheduled too late to hit the tick tries again.
TEST_F(ConsoleLink, AByteAtTheThreeHundredthIdleTickRestartsTheCount) {
    bool hit = false;
    for (int attempt = 0; attempt < 4 && !hit; ++attempt) {
        tick_ms.store(1);
        unsigned long base = idle_ticks_waited.load();
        std::atomic<unsigned long> at_send{0};
        ScriptPeer peer([&](ScriptPeer& p) {
            wait_ticks(base + 280);
            tick_ms.store(10);
            wait_ticks(base + 298);
            tick_ms.store(200); // the 300th tick
            wait_ticks(base + 299);
            std::this_thread::sleep_for(std::chrono::milliseconds(30)); // well inside it
            at_send.store(idle_ticks_waited.load() - base);
            p.send_text("x");
            tick_ms.store(1); // every later tick
        });
        intptr_t s = open_to(peer.port());
        ASSERT_NE(s, -1);
        bool got = link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30);
        unsigned long waited = idle_ticks_waited.load() - base;
        link_close(device);
        peer.wait_done();
        if (at_send.load() != 299) continue; // the peer missed the tick: not a verdict
        hit = true;
        EXPECT_FALSE(got);
        EXPECT_STREQ(reply, "x");
        EXPECT_EQ(waited, 300u + 301u);
    }
    EXPECT_TRUE(hit) << "the peer never managed to send during the 300th tick";
}

TEST_F(ConsoleLink, PeerCloseEndsTheReceiveAtOnceKeepingWhatCame) {
    {
        ScriptPeer peer([](ScriptPeer& p) {
            p.send_text("partial");
            p.close_conn();
        });
        intptr_t s = open_to(peer.port());
        ASSERT_NE(s, -1);
        ASSERT_TRUE(peer.wait_done());
        unsigned long base = idle_ticks_waited.load();
        EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
        EXPECT_EQ(idle_ticks_waited.load() - base, 0u);
        EXPECT_STREQ(reply, "partial");
        link_close(device);
    }
    // A close during a long idle tick ends the tick itself, not just the next turn.
    tick_ms.store(5000);
    ScriptPeer peer([](ScriptPeer& p) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        p.close_conn();
    });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_LT(elapsed_ms(start), 2500);
}

TEST_F(ConsoleLink, DataEndsAnIdleTickEarly) {
    tick_ms.store(5000);
    ScriptPeer peer([](ScriptPeer& p) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        p.send_text("cmd ver\r\n4.2.7\r\nVORLIX:/#");
    });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_LT(elapsed_ms(start), 2500); // well inside the one tick it would otherwise sleep
    EXPECT_STREQ(reply, "cmd ver\r\n4.2.7\r\nVORLIX:/#");
}

// A socket in error (here never connected: every receive fails) wakes each tick at once; the
// tick still lasts its full length, so the idle limit keeps its meaning in time.
TEST_F(ConsoleLink, SocketErrorsDoNotShortenTheIdleTicks) {
    ASSERT_TRUE(net_startup());
    sock_t s = sock_tcp();
    ASSERT_NE(s, -1);
    tick_ms.store(10);
    unsigned long base = idle_ticks_waited.load();
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 1));
    EXPECT_EQ(idle_ticks_waited.load() - base, 11u);
    EXPECT_GE(elapsed_ms(start), 11 * 10);
    sock_shutdown_close(s);
    net_cleanup();
}

// ---- giving up: reconnect_request and the stop ----------------------------------------------

TEST_F(ConsoleLink, ReconnectRequestMakesEveryLoopGiveUpAtTheNextTurn) {
    ScriptPeer peer([](ScriptPeer& p) { p.read_bytes(100, 1500); });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    unsigned long base = idle_ticks_waited.load();
    std::thread raiser([base] {
        wait_ticks(base + 5);
        reconnect_request.store(1);
    });
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    raiser.join();
    EXPECT_LT(idle_ticks_waited.load() - base, 100u); // far from the 301 of the idle limit
    // Raised before the loops start: they give up before receiving or sending anything.
    base = idle_ticks_waited.load();
    EXPECT_EQ(login_handshake(s, "admin\r", "secret\r"), 1);
    EXPECT_EQ(link_login(device), 1);
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, nullptr, 30));
    EXPECT_EQ(idle_ticks_waited.load() - base, 0u);
    // link_drop lowers the flag and closes.
    link_drop(device);
    EXPECT_EQ(reconnect_request.load(), 0);
    EXPECT_EQ(device.socket.load(), -1);
    ASSERT_TRUE(peer.wait_done());
    EXPECT_EQ(peer.received(), "");
}

TEST_F(ConsoleLink, StopEndsEveryWaitInsideItsTick) {
    tick_ms.store(5000);
    ScriptPeer peer([](ScriptPeer&) {});
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    auto stop_soon = [] {
        return std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            stop_request();
        });
    };
    Clock::time_point start = Clock::now();
    std::thread stopper = stop_soon();
    EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    stopper.join();
    EXPECT_LT(elapsed_ms(start), 2500);
    EXPECT_TRUE(stop_requested());

    stop_reset();
    EXPECT_FALSE(stop_requested());
    start = Clock::now();
    stopper = stop_soon();
    EXPECT_EQ(login_handshake(s, "admin\r", "secret\r"), 1);
    stopper.join();
    EXPECT_LT(elapsed_ms(start), 2500);

    stop_reset();
    start = Clock::now();
    stopper = stop_soon();
    EXPECT_TRUE(stop_sleep_ms(5000));
    stopper.join();
    EXPECT_LT(elapsed_ms(start), 2500);
    stop_reset();
    EXPECT_FALSE(stop_sleep_ms(1)); // a pause that runs out is not a stop
}

// A listener whose accept queue is full drops further SYNs (Linux, and Wine on it), so a
// connect to it does not end by itself for a long time: only the stop ends it.
TEST_F(ConsoleLink, StopEndsAConnectThatNeverCompletes) {
    ScriptPeer keeps_winsock_started([](ScriptPeer&) {});
    RawSocket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 0), 0);
#ifdef _WIN32
    int length = sizeof addr;
#else
    socklen_t length = sizeof addr;
#endif
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
    RawSocket fillers[4];
    for (RawSocket& f : fillers) {
        // Non-blocking: each SYN goes out and the connect completes or stays pending.
        f = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
        u_long on = 1;
        ioctlsocket(f, FIONBIO, &on);
#else
        fcntl(f, F_SETFL, O_NONBLOCK);
#endif
        connect(f, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char port[16];
    snprintf(port, sizeof port, "%d", ntohs(addr.sin_port));
    set_settings("127.0.0.1", port, "admin\r", "secret\r");
    const intptr_t pending = 12345;
    std::atomic<intptr_t> opened{pending};
    std::thread opener([&] { opened.store(link_open(device)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bool still_connecting = opened.load() == pending;
    Clock::time_point start = Clock::now();
    stop_request();
    opener.join();
    long stop_took = elapsed_ms(start);
    for (RawSocket f : fillers)
        raw_close(f);
    raw_close(listener);
    if (!still_connecting) GTEST_SKIP() << "this system answered the connect by itself";
    EXPECT_EQ(opened.load(), -1);
    EXPECT_LT(stop_took, 1000);
}

// ---- login_handshake ------------------------------------------------------------------------

TEST_F(ConsoleLink, HandshakeAnswersLoginAndPasswordWithTheStoredTextsThenSeesThePrompt) {
    ScriptPeer peer([](ScriptPeer& p) {
        p.send_text("\r\nVORLIX login: ");
        p.read_bytes(6);
        p.send_text("Password: ");
        p.read_bytes(7);
        p.send_text("\r\nWelcome\r\nVORLIX:/# ");
    });
    ASSERT_NE(open_to(peer.port()), -1);
    EXPECT_EQ(link_login(device), 0);
    ASSERT_TRUE(peer.wait_done());
    EXPECT_EQ(peer.received(), "admin\rsecret\r"); // CR included, nothing more
}

TEST_F(ConsoleLink, HandshakeChunkWithLoginAndPromptIsAnsweredWithTheUser) {
    ScriptPeer peer([](ScriptPeer& p) {
        p.send_text("login: VORLIX:/#");
        p.read_bytes(6);
        p.send_text("VORLIX:/#");
    });
    ASSERT_NE(open_to(peer.port()), -1);
    EXPECT_EQ(link_login(device), 0);
    ASSERT_TRUE(peer.wait_done());
    EXPECT_EQ(peer.received(), "admin\r");
}

TEST_F(ConsoleLink, HandshakeSilenceAndLoneBytesEndAfter151IdleTicks) {
    {
        ScriptPeer peer([](ScriptPeer&) {});
        ASSERT_NE(open_to(peer.port()), -1);
        unsigned long base = idle_ticks_waited.load();
        EXPECT_EQ(link_login(device), 1);
        EXPECT_EQ(idle_ticks_waited.load() - base, 151u);
        link_close(device);
    }
    // One byte at tick 50 is dropped unexamined and does not restart the count.
    unsigned long base = idle_ticks_waited.load();
    ScriptPeer peer([base](ScriptPeer& p) {
        wait_ticks(base + 50);
        p.send_text("l");
    });
    ASSERT_NE(open_to(peer.port()), -1);
    EXPECT_EQ(link_login(device), 1);
    EXPECT_EQ(idle_ticks_waited.load() - base, 151u);
    ASSERT_TRUE(peer.wait_done());
    EXPECT_EQ(peer.received(), "");
}

TEST_F(ConsoleLink, HandshakeDoesNotSeeAPromptSplitAcrossChunks) {
    unsigned long sent_at = 0;
    ScriptPeer peer([&sent_at](ScriptPeer& p) {
        unsigned long base = idle_ticks_waited.load();
        p.send_text("VORL");
        wait_ticks(base + 3);
        sent_at = idle_ticks_waited.load();
        p.send_text("IX:/#");
    });
    ASSERT_NE(open_to(peer.port()), -1);
    EXPECT_EQ(link_login(device), 1);
    ASSERT_TRUE(peer.wait_done());
    // Each piece restarted the count: 151 idle ticks after the second one.
    EXPECT_GE(idle_ticks_waited.load() - sent_at, 151u);
    EXPECT_LE(idle_ticks_waited.load() - sent_at, 152u);
    EXPECT_EQ(peer.received(), "");
}

TEST_F(ConsoleLink, HandshakeEndsAtOnceWhenThePeerCloses) {
    ScriptPeer peer([](ScriptPeer& p) { p.close_conn(); });
    ASSERT_NE(open_to(peer.port()), -1);
    ASSERT_TRUE(peer.wait_done());
    unsigned long base = idle_ticks_waited.load();
    EXPECT_EQ(link_login(device), 1);
    EXPECT_EQ(idle_ticks_waited.load() - base, 0u);
}

// ---- open, send, close ------------------------------------------------------------------------

TEST_F(ConsoleLink, SendWritesTheWholeCommandLineOnce) {
    ScriptPeer peer([](ScriptPeer& p) { p.read_bytes(8, 2000); });
    intptr_t s = open_to(peer.port());
    ASSERT_NE(s, -1);
    EXPECT_EQ(link_send(s, "cmd esn\r"), 8);
    ASSERT_TRUE(peer.wait_done());
    EXPECT_EQ(peer.received(), "cmd esn\r");
    EXPECT_EQ(link_send(-1, "cmd esn\r"), -1);
    EXPECT_FALSE(link_receive(-1, reply, sizeof reply, DEVICE_PROMPT, 30));
}

TEST_F(ConsoleLink, CloseTwiceDoesNothingTheSecondTimeAndTheLinkOpensAgain) {
    ScriptPeer first([](ScriptPeer& p) { p.read_bytes(1, 2000); });
    ASSERT_NE(open_to(first.port()), -1);
    link_close(device);
    EXPECT_EQ(device.socket.load(), -1);
    link_close(device);
    EXPECT_EQ(device.socket.load(), -1);
    ASSERT_TRUE(first.wait_done());
    // The socket library is still started for the next connection, which works.
    ScriptPeer second([](ScriptPeer& p) {
        p.read_bytes(4, 2000);
        p.send_text("ok VORLIX:/#");
    });
    intptr_t s = open_to(second.port());
    ASSERT_NE(s, -1);
    EXPECT_EQ(link_send(s, "hi\r\n"), 4);
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_STREQ(reply, "ok VORLIX:/#");
}

TEST_F(ConsoleLink, HostNamesPortsWithoutDigitsAndClosedPortsGiveNoSocket) {
    ScriptPeer peer([](ScriptPeer&) {});
    char port[16];
    snprintf(port, sizeof port, "%d", peer.port());
    set_settings("localhost", port, "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
    set_settings("127.0.0.1", "telnet", "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
    set_settings("127.0.0.1.5", port, "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
    EXPECT_FALSE(peer.accepted());
    EXPECT_EQ(device.socket.load(), -1);
    // A port where nobody listens: the peer's listener is gone once it is destroyed.
    int closed_port = 0;
    {
        ScriptPeer gone([](ScriptPeer&) {});
        closed_port = gone.port();
    }
    snprintf(port, sizeof port, "%d", closed_port);
    set_settings("127.0.0.1", port, "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
}

#ifdef _WIN32
// Each open connection holds one start-up of the socket library, and its close releases it;
// a failed open releases its own at once.
TEST_F(ConsoleLink, OpensAndClosesLeaveNoSocketLibraryStartUpBehind) {
    {
        ScriptPeer peer([](ScriptPeer& p) { p.read_bytes(1, 1000); });
        ASSERT_NE(open_to(peer.port()), -1);
        link_close(device);
        link_close(device);
        set_settings("127.0.0.1", "telnet", "admin\r", "secret\r");
        EXPECT_EQ(link_open(device), -1);
        set_settings("localhost", "23", "admin\r", "secret\r");
        EXPECT_EQ(link_open(device), -1);
    }
    // The peer has released its own too: one more clean-up finds the library not started.
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}
#endif

// ---- against the unit stand-in -----------------------------------------------------------------

TEST_F(ConsoleLink, LogsInToTheStandInAndCollectsSplitReplies) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server sim(config);
    ASSERT_GT(sim.start(0), 0);
    unitsim::Fault split;
    split.command = "cmd ver";
    split.split_at = {4, 16, 18}; // cuts the prompt "VORLIX:/#" after "VO"
    split.split_pause_ms = 20;
    sim.add_fault(split);
    char port[16];
    snprintf(port, sizeof port, "%d", sim.port());
    set_settings("127.0.0.1", port, "admin\r", "vorlix\r");
    intptr_t s = link_open(device);
    ASSERT_NE(s, -1);
    device.socket.store(s);
    ASSERT_EQ(link_login(device), 0);
    EXPECT_TRUE(sim.wait_logins(1, 2000));
    ASSERT_EQ(link_send(s, "cmd ver\r"), 8);
    EXPECT_TRUE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
    EXPECT_STREQ(reply, "cmd ver\r\n4.2.7\r\nVORLIX:/# ");
    ASSERT_TRUE(sim.wait_commands(1, 2000));
    EXPECT_EQ(sim.stats().commands.at(0), "cmd ver");
}

TEST_F(ConsoleLink, StandInLoginPromptSplitInTwoIsNotSeen) {
    unitsim::Config config;
    config.frozen = true;
    config.login_split = {3}; // "log" + "in: ": neither chunk holds "login"
    unitsim::Server sim(config);
    ASSERT_GT(sim.start(0), 0);
    char port[16];
    snprintf(port, sizeof port, "%d", sim.port());
    set_settings("127.0.0.1", port, "admin\r", "vorlix\r");
    intptr_t s = link_open(device);
    ASSERT_NE(s, -1);
    device.socket.store(s);
    unsigned long base = idle_ticks_waited.load();
    EXPECT_EQ(link_login(device), 1);
    EXPECT_GE(idle_ticks_waited.load() - base, 151u);
    EXPECT_TRUE(sim.stats().login_answers.empty());
}

TEST_F(ConsoleLink, StandInAskingAgainGetsTheSamePasswordUntilItCloses) {
    unitsim::Config config;
    config.frozen = true;
    unitsim::Server sim(config);
    ASSERT_GT(sim.start(0), 0);
    char port[16];
    snprintf(port, sizeof port, "%d", sim.port());
    set_settings("127.0.0.1", port, "admin\r", "wrong\r");
    intptr_t s = link_open(device);
    ASSERT_NE(s, -1);
    device.socket.store(s);
    // The stand-in asks again for ever; after three refusals it is shut down (the unit closes).
    std::thread closer([&sim] {
        Clock::time_point start = Clock::now();
        while (sim.stats().failed_logins < 3 && elapsed_ms(start) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        sim.stop();
    });
    EXPECT_EQ(link_login(device), 1);
    closer.join();
    unitsim::Stats stats = sim.stats();
    EXPECT_EQ(stats.logins, 0);
    EXPECT_GE(stats.failed_logins, 3);
    // Every prompt was answered with the stored texts: user, password, user, password, ...
    ASSERT_GE(stats.login_answers.size(), 6u);
    for (size_t i = 0; i < stats.login_answers.size(); ++i)
        EXPECT_EQ(stats.login_answers[i], i % 2 == 0 ? "admin" : "wrong") << i;
}

} // namespace
