#include "test_support.h"

#include <filesystem>

#ifdef _WIN32
#include <winsock2.h>
#include <process.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ts {

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

bool wait_ticks(unsigned long target, int timeout_ms) {
    Clock::time_point start = Clock::now();
    while (idle_ticks_waited.load() < target) {
        if (elapsed_ms(start) > timeout_ms) return false;
        std::this_thread::yield();
    }
    return true;
}

void reset_globals(int tick, int second) {
    device_record_init();
    request_flags = 0;
    reconnect_request = 0;
    stop_reset();
    tick_ms = tick;
    second_ms = second;
}

void set_settings(const char* ip, const char* port, const char* user, const char* password) {
    snprintf(device.ip, sizeof device.ip, "%s", ip);
    snprintf(device.port, sizeof device.port, "%s", port);
    snprintf(device.username, sizeof device.username, "%s", user);
    snprintf(device.password, sizeof device.password, "%s", password);
}

void set_loopback(int port, const char* user, const char* password) {
    char text[16];
    snprintf(text, sizeof text, "%d", port);
    set_settings("127.0.0.1", text, user, password);
}

std::string temp_path(const std::string& tag) {
#ifdef _WIN32
    int pid = _getpid();
#else
    int pid = static_cast<int>(getpid());
#endif
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "vorlix_" + std::to_string(pid) + "_" + info->name() + "_" + tag;
    return (std::filesystem::temp_directory_path() / name).string();
}

std::string read_file(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

void write_file(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// ---- raw sockets ------------------------------------------------------------------------

#ifdef _WIN32
typedef SOCKET Native;
typedef int AddrLen;
NetUser::NetUser() {
    WSADATA data;
    WSAStartup(0x0202, &data);
}
NetUser::~NetUser() {
    WSACleanup();
}
void raw_close(RawSocket s) {
    closesocket(static_cast<Native>(s));
}
static void set_nonblocking(Native s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}
#else
typedef int Native;
typedef socklen_t AddrLen;
NetUser::NetUser() {}
NetUser::~NetUser() {}
void raw_close(RawSocket s) {
    close(static_cast<Native>(s));
}
static void set_nonblocking(Native s) {
    fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
}
#endif

static RawSocket wrap(Native s) {
    return s == static_cast<Native>(kNoRaw) ? kNoRaw : static_cast<RawSocket>(s);
}

static sockaddr_in loopback(int port) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port));
    return addr;
}

RawSocket raw_listen(int backlog, int* port) {
    Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = loopback(0);
    AddrLen length = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, backlog) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        raw_close(wrap(s));
        return kNoRaw;
    }
    *port = ntohs(addr.sin_port);
    return wrap(s);
}

RawSocket raw_connect(int port, bool nonblocking) {
    Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (nonblocking) set_nonblocking(s); // the SYN goes out; the connect may stay pending
    sockaddr_in addr = loopback(port);
    int done = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (done != 0 && !nonblocking) {
        raw_close(wrap(s));
        return kNoRaw;
    }
    return wrap(s);
}

bool raw_readable(RawSocket s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<Native>(s), &set);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
}

bool raw_send(RawSocket s, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        int n = ::send(static_cast<Native>(s), text.data() + sent,
                       static_cast<int>(text.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int raw_recv(RawSocket s, char* buffer, int size) {
    return static_cast<int>(::recv(static_cast<Native>(s), buffer, size, 0));
}

bool FullListener::open() {
    listener = raw_listen(0, &port);
    if (listener == kNoRaw) return false;
    for (int i = 0; i < 4; ++i) {
        RawSocket s = raw_connect(port, true);
        if (s == kNoRaw) return false;
        fillers.push_back(s);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // handshakes settle
    return true;
}

FullListener::~FullListener() {
    for (RawSocket s : fillers)
        raw_close(s);
    if (listener != kNoRaw) raw_close(listener);
}

// ---- the scripted peer ----------------------------------------------------------------

ScriptPeer::ScriptPeer(std::function<void(ScriptPeer&)> script) : script_(std::move(script)) {
    listener_ = raw_listen(4, &port_);
    thread_ = std::thread([this] { run(); });
}

ScriptPeer::~ScriptPeer() {
    quit_.store(true);
    if (thread_.joinable()) thread_.join();
    if (conn_ != kNoRaw) raw_close(conn_);
    if (listener_ != kNoRaw) raw_close(listener_);
}

bool ScriptPeer::wait_done(int timeout_ms) const {
    Clock::time_point start = Clock::now();
    while (!script_done_.load()) {
        if (elapsed_ms(start) > timeout_ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string ScriptPeer::read_bytes(size_t count, int timeout_ms) {
    std::string got;
    Clock::time_point start = Clock::now();
    while (got.size() < count && elapsed_ms(start) < timeout_ms) {
        if (!raw_readable(conn_, 10)) continue;
        char buffer[256];
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        int n = raw_recv(conn_, buffer, static_cast<int>(want));
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    received_ += got;
    return got;
}

void ScriptPeer::close_conn() {
    raw_close(conn_);
    conn_ = kNoRaw;
}

void ScriptPeer::run() {
    while (!quit_.load()) {
        if (!raw_readable(listener_, 10)) continue;
        conn_ = wrap(accept(static_cast<Native>(listener_), nullptr, nullptr));
        if (conn_ == kNoRaw) return;
        accepted_.store(true);
        script_(*this);
        script_done_.store(true);
        return;
    }
}

// ---- view hooks and the stand-in session -------------------------------------------------

static std::mutex events_mutex;
static std::vector<std::string> events;

static void record(const std::string& event) {
    std::lock_guard<std::mutex> lock(events_mutex);
    events.push_back(event);
}

std::vector<std::string> recorded() {
    std::lock_guard<std::mutex> lock(events_mutex);
    return events;
}

void install_recorders() {
    {
        std::lock_guard<std::mutex> lock(events_mutex);
        events.clear();
    }
    view_hooks.refresh_views = [] { record("refresh"); };
    view_hooks.update_tray = [](bool add, bool logging) {
        record(std::string("tray ") + (add ? "1" : "0") + " " + (logging ? "1" : "0"));
    };
    view_hooks.show_report = [](const char* text) { record(std::string("report ") + text); };
}

void UnitSession::SetUp() {
    reset_globals(100, 1000);
    install_recorders();
}

void UnitSession::TearDown() {
    link_close(device);
    if (server != nullptr) {
        server->stop();
        delete server;
        server = nullptr;
    }
    view_hooks = ViewHooks{nullptr, nullptr, nullptr};
    reset_globals(100, 1000);
}

unitsim::Config UnitSession::frozen() {
    unitsim::Config config;
    config.frozen = true;
    config.restart_ms = 200;
    return config;
}

void UnitSession::connect(const unitsim::Config& config,
                          const std::vector<unitsim::Fault>& faults) {
    server = new unitsim::Server(config);
    for (const unitsim::Fault& f : faults)
        server->add_fault(f);
    int port = server->start(0);
    ASSERT_GT(port, 0);
    set_loopback(port, (config.user + "\r").c_str(), (config.password + "\r").c_str());
    device.socket = link_open(device);
    ASSERT_NE(NO_SOCKET, device.socket.load());
    ASSERT_EQ(0, link_login(device));
}

} // namespace ts
