// The console link against a scripted loopback peer (tick-exact cases) and the unit stand-in.
#include "test_support.h"

#include "link/unit_console.h"

#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#endif

using namespace ts;

namespace {

class ConsoleLink : public ::testing::Test {
  protected:
    void SetUp() override { reset_globals(2, 10); }
    void TearDown() override {
        link_close(device);
        reset_globals(100, 1000);
    }
    // Opens the link to a loopback port into device.socket.
    intptr_t open_to(int port) {
        set_loopback(port, "admin\r", "secret\r");
        device.socket.store(link_open(device));
        return device.socket.load();
    }
    // Idle ticks the call took.
    template <typename Call> unsigned long ticks_of(Call call) {
        unsigned long base = idle_ticks_waited.load();
        call();
        return idle_ticks_waited.load() - base;
    }

    char reply[REPLY_BUFFER_SIZE];
};

// ---- link_receive -------------------------------------------------------------------------

// The peer sends the pieces, each after the viewer has idled 3 ticks on the one before,
// then closes or stays silent; link_receive waits for the prompt with a limit of 30.
TEST_F(ConsoleLink, ReceiveCollectsPiecesUpToThePromptTheBufferTheCloseOrTheIdleLimit) {
    std::string lines;
    for (int i = 0; lines.size() < 3000; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    lines.resize(3000);
    const std::string a1500(1500, 'a');
    const std::string tail = std::string(500, 'b') + "\r\nVORLIX:/#" + std::string(1000, 'c');
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        bool close;
        bool ok;
        std::string reply;
        long ticks; // idle ticks waited, or -1: not counted
    } const cases[] = {
        {"prompt split across two pieces",
         {"cmd esn\r\n012345678901234\r\nVORL", "IX:/#"},
         false,
         true,
         "cmd esn\r\n012345678901234\r\nVORLIX:/#",
         -1},
        {"3000 characters without the prompt", {lines}, false, false, lines.substr(0, 2048), -1},
        {"prompt within the first 2048 of an overflowing piece",
         {a1500, tail},
         false,
         true,
         (a1500 + tail).substr(0, 2048),
         -1},
        {"peer close keeps what came, at once", {"partial"}, true, false, "partial", 0},
        {"silence: limit times ten plus one idle ticks", {}, false, false, "", 301},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptPeer peer([&c](ScriptPeer& p) {
            for (size_t i = 0; i < c.pieces.size(); ++i) {
                if (i > 0) wait_ticks(idle_ticks_waited.load() + 3);
                p.send_text(c.pieces[i]);
            }
            if (c.close) p.close_conn();
        });
        intptr_t s = open_to(peer.port());
        ASSERT_NE(s, -1);
        if (c.close) {
            ASSERT_TRUE(peer.wait_done());
        }
        // The buffer sits inside a larger block whose tail must stay untouched.
        char block[REPLY_BUFFER_SIZE + 16];
        memset(block, 'Z', sizeof block);
        unsigned long ticks = ticks_of(
            [&] { EXPECT_EQ(c.ok, link_receive(s, block, REPLY_BUFFER_SIZE, DEVICE_PROMPT, 30)); });
        EXPECT_EQ(c.reply, block);
        EXPECT_EQ(std::string(block + REPLY_BUFFER_SIZE, 16), std::string(16, 'Z'));
        if (c.ticks >= 0) {
            EXPECT_EQ(static_cast<unsigned long>(c.ticks), ticks);
        }
        link_close(device);
    }
    // A limit of 0 still waits one tick.
    ScriptPeer peer([](ScriptPeer&) {});
    intptr_t s = open_to(peer.port());
    EXPECT_EQ(1u, ticks_of([&] {
                  EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 0));
              }));
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

// Data or a close during a long idle tick ends the tick itself, not just the next turn.
TEST_F(ConsoleLink, DataOrACloseEndsAnIdleTickEarly) {
    tick_ms.store(5000);
    for (bool close : {false, true}) {
        ScriptPeer peer([close](ScriptPeer& p) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (close)
                p.close_conn();
            else
                p.send_text("cmd ver\r\n4.2.7\r\nVORLIX:/#");
        });
        intptr_t s = open_to(peer.port());
        ASSERT_NE(s, -1);
        Clock::time_point start = Clock::now();
        EXPECT_EQ(!close, link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30));
        EXPECT_LT(elapsed_ms(start), 2500) << close; // well inside the one tick
        EXPECT_STREQ(reply, close ? "" : "cmd ver\r\n4.2.7\r\nVORLIX:/#");
        link_close(device);
    }
}

// A socket in error (here never connected: every receive fails) wakes each tick at once; the
// tick still lasts its full length, so the idle limit keeps its meaning in time.
TEST_F(ConsoleLink, SocketErrorsDoNotShortenTheIdleTicks) {
    ASSERT_TRUE(net_startup());
    sock_t s = sock_tcp();
    ASSERT_NE(s, -1);
    tick_ms.store(10);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(11u, ticks_of([&] {
                  EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 1));
              }));
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
    EXPECT_EQ(0u, ticks_of([&] {
                  EXPECT_EQ(login_handshake(s, "admin\r", "secret\r"), 1);
                  EXPECT_EQ(link_login(device), 1);
                  EXPECT_FALSE(link_receive(s, reply, sizeof reply, nullptr, 30));
              }));
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
    auto stopped_soon = [](const std::function<void()>& wait) {
        stop_reset();
        Clock::time_point start = Clock::now();
        std::thread stopper([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            stop_request();
        });
        wait();
        stopper.join();
        EXPECT_LT(elapsed_ms(start), 2500);
        EXPECT_TRUE(stop_requested());
    };
    stopped_soon([&] { EXPECT_FALSE(link_receive(s, reply, sizeof reply, DEVICE_PROMPT, 30)); });
    stopped_soon([&] { EXPECT_EQ(login_handshake(s, "admin\r", "secret\r"), 1); });
    stopped_soon([] { EXPECT_TRUE(stop_sleep_ms(5000)); });
    stop_reset();
    EXPECT_FALSE(stop_requested());
    EXPECT_FALSE(stop_sleep_ms(1)); // a pause that runs out is not a stop
}

// ---- login_handshake ------------------------------------------------------------------------

// The peer plays its part of the login; the handshake's outcome, what the peer read and the
// idle ticks waited.
TEST_F(ConsoleLink, HandshakeAnswersOnlyWholePromptsInOneChunk) {
    struct Case {
        const char* name;
        std::function<void(ScriptPeer&)> script;
        int result;
        std::string received;
        long ticks; // or -1: not counted
    } const cases[] = {
        {"login and password answered with the stored texts, then the prompt",
         [](ScriptPeer& p) {
             p.send_text("\r\nVORLIX login: ");
             p.read_bytes(6);
             p.send_text("Password: ");
             p.read_bytes(7);
             p.send_text("\r\nWelcome\r\nVORLIX:/# ");
         },
         0, "admin\rsecret\r", -1},
        {"a chunk with login and the prompt is answered with the user",
         [](ScriptPeer& p) {
             p.send_text("login: VORLIX:/#");
             p.read_bytes(6);
             p.send_text("VORLIX:/#");
         },
         0, "admin\r", -1},
        {"silence ends after 151 idle ticks", [](ScriptPeer&) {}, 1, "", 151},
        // dropped unexamined, and the count goes on
        {"a lone byte at tick 50",
         [](ScriptPeer& p) {
             wait_ticks(idle_ticks_waited.load() + 50);
             p.send_text("l");
         },
         1, "", 151},
        {"the peer closing ends it at once", [](ScriptPeer& p) { p.close_conn(); }, 1, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptPeer peer(c.script);
        ASSERT_NE(open_to(peer.port()), -1);
        if (c.ticks == 0) {
            ASSERT_TRUE(peer.wait_done());
        }
        unsigned long ticks = ticks_of([&] { EXPECT_EQ(c.result, link_login(device)); });
        if (c.ticks >= 0) {
            EXPECT_EQ(static_cast<unsigned long>(c.ticks), ticks);
        }
        ASSERT_TRUE(peer.wait_done());
        EXPECT_EQ(c.received, peer.received());
        link_close(device);
    }
}

// Neither "login" cut in two nor the prompt cut in two is seen: each piece restarts the count.
TEST_F(ConsoleLink, HandshakeDoesNotSeeALoginOrPromptSplitAcrossChunks) {
    unsigned long sent_at = 0;
    ScriptPeer peer([&sent_at](ScriptPeer& p) {
        p.send_text("log");
        wait_ticks(idle_ticks_waited.load() + 3);
        p.send_text("in: VORL");
        wait_ticks(idle_ticks_waited.load() + 3);
        sent_at = idle_ticks_waited.load();
        p.send_text("IX:/#");
    });
    ASSERT_NE(open_to(peer.port()), -1);
    EXPECT_EQ(link_login(device), 1);
    ASSERT_TRUE(peer.wait_done());
    EXPECT_GE(idle_ticks_waited.load() - sent_at, 151u);
    EXPECT_LE(idle_ticks_waited.load() - sent_at, 152u);
    EXPECT_EQ(peer.received(), "");
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
    std::string port = std::to_string(peer.port());
    set_settings("localhost", port.c_str(), "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
    set_settings("127.0.0.1", "telnet", "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
    set_settings("127.0.0.1.5", port.c_str(), "admin\r", "secret\r");
    EXPECT_EQ(link_open(device), -1);
    EXPECT_FALSE(peer.accepted());
    EXPECT_EQ(device.socket.load(), -1);
    // A port where nobody listens: the peer's listener is gone once it is destroyed.
    int closed_port = 0;
    {
        ScriptPeer gone([](ScriptPeer&) {});
        closed_port = gone.port();
    }
    set_loopback(closed_port);
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

} // namespace
