#include "sim/app/live_can.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <deque>
#include <sstream>
#include <stdexcept>

#include "sim/app/console_pty.hpp"
#include "sim/app/host_port.hpp"
#include "sim/app/scenario.hpp"

namespace sim {

namespace {

// Chosen values: a frame nobody acknowledges is given up after this many
// tries (a controller would retry for ever and fill the log with error
// frames); a client that reads slower than the bus runs loses frames past
// this much text waiting for it; a command longer than a line is garbage.
constexpr int kMaxAttempts = 16;
constexpr std::size_t kMaxPending = 1 << 20;
constexpr std::size_t kMaxCommand = 256;
constexpr std::size_t kMaxClients = 16;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("can server: " + what + ": " + std::strerror(errno));
}

bool parse_hex(std::string_view text, uint32_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string hex_data(const CanFrame& f) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; !f.rtr && i < std::min<int>(f.dlc, 8); i++) {
        out += kHex[f.data[i] >> 4];
        out += kHex[f.data[i] & 0xF];
    }
    return out;
}

// An identifier of more than 11 bits, or written with eight digits, is extended.
bool make_frame(std::string_view id, uint32_t dlc, CanFrame& f) {
    uint32_t value = 0;
    if (!parse_hex(id, value) || value > 0x1FFFFFFFU || dlc > 8) {
        return false;
    }
    f.id = value;
    f.ide = value > 0x7FFU || id.size() == 8;
    f.dlc = static_cast<uint8_t>(dlc);
    return true;
}

}  // namespace

void parse_can_server(const std::string& text, LiveCanOptions& options) {
    HostPort at;
    switch (parse_host_port(text, true, at)) {
        case HostPortError::kPort:
            throw ScenarioError("--can-server: the port must be a number from 0 to 65535, not '" +
                                text.substr(text.rfind(':') + 1) + "'");
        case HostPortError::kHost:
            throw ScenarioError(
                "--can-server: the host must be an IPv4 or IPv6 address or "
                "'localhost', not '" +
                at.host + "'");
        case HostPortError::kNone:
            break;
    }
    options.server_host = at.host;
    options.server_port = at.port;
}

// One per bus for all its clients, as one controller behind a socketcand
// or an slcan adapter: it only listens until a client sends, then takes
// part (acknowledges) as a node does, at the bit timing of the board's own
// controller on the bus while that one takes part, otherwise at 1 Mbit/s.
class LiveCan::Node final : public CanNode {
  public:
    Node(Board& board, int n)
        : bus_(board.can_bus(n)), controller_(n == 1 ? board.can1() : board.can2()) {
        bus_.attach(this);
    }
    ~Node() override { bus_.detach(this); }
    void send(const CanFrame& frame, int origin) {
        out_.push_back({frame, origin, 0});
        active_ = true;
        bus_.request();
    }
    /// The client whose frame is on the wire.
    int origin() const { return out_.empty() ? -1 : out_.front().origin; }

    const CanFrame* next_frame() override { return out_.empty() ? nullptr : &out_.front().frame; }
    CanBitTiming timing() const override {
        return controller_.active() ? controller_.timing() : can_default_timing(kPsPerUs);
    }
    bool active() const override { return active_; }
    void sent(bool acked, Picos) override {
        if (!out_.empty() && (acked || ++out_.front().attempts >= kMaxAttempts)) {
            out_.pop_front();
        }
    }
    void received(const CanFrame&, Picos) override {}

  private:
    struct Out {
        CanFrame frame;
        int origin;
        int attempts;
    };
    CanBus& bus_;
    const CanController& controller_;
    std::deque<Out> out_;
    bool active_ = false;
};

// A client's byte stream: what it sent waits in `in`, what it is sent in
// `out` (frames past kMaxPending are lost to it).
class LiveCan::Client {
  public:
    Client(int id, int fd, bool socket) : id_(id), fd_(fd), socket_(socket) {}
    virtual ~Client() = default;
    /// Reads, answers and writes; false once the client is gone.
    virtual bool io(std::vector<std::unique_ptr<Node>>& nodes) = 0;
    /// A frame that completed on bus `n`, sent by client `origin` (-1: a board node).
    virtual void frame(int n, const CanFrame& frame, Picos at, int origin) = 0;
    virtual void error(int n, const CanError& error) = 0;

  protected:
    void queue(const std::string& text) {
        if (out_.size() + text.size() <= kMaxPending) {
            out_ += text;
        }
    }
    // False when the stream ended or failed.
    bool read_in() {
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got > 0) {
                in_.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            return got < 0 && (errno == EAGAIN || errno == EINTR || (!socket_ && errno == EIO));
        }
    }
    bool write_out() {
        while (!out_.empty()) {
            const ssize_t put = socket_ ? ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL)
                                        : ::write(fd_, out_.data(), out_.size());
            if (put < 0) {
                return errno == EAGAIN || errno == EINTR;
            }
            out_.erase(0, static_cast<std::size_t>(put));
        }
        return true;
    }
    int id_;
    int fd_;
    bool socket_;
    std::string in_, out_;
};

namespace {

// socketcand's text protocol: "< hi >" on connecting, "< open canN >" and
// "< rawmode >" answered "< ok >", then "< frame ID SECS.USECS DATA >" for
// every frame and "< send ID LEN B0 .. >" from the client.
class Socketcand final : public LiveCan::Client {
  public:
    Socketcand(int id, int fd) : Client(id, fd, true) {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        queue("< hi >");
    }
    ~Socketcand() override { close(fd_); }

    bool io(std::vector<std::unique_ptr<LiveCan::Node>>& nodes) override {
        const bool alive = read_in();
        bool keep = true;
        while (keep) {
            const auto start = in_.find_first_not_of(" \t\r\n");
            if (start == std::string::npos) {
                in_.clear();
                break;
            }
            const auto end = in_.find('>', start);
            if (in_[start] != '<' || (end == std::string::npos && in_.size() > kMaxCommand) ||
                (end != std::string::npos && end - start > kMaxCommand)) {
                queue("< error not the socketcand protocol: closing >");
                keep = false;
                break;
            }
            if (end == std::string::npos) {
                break;
            }
            command(in_.substr(start + 1, end - start - 1), nodes);
            in_.erase(0, end + 1);
        }
        return write_out() && alive && keep;
    }

    void frame(int n, const CanFrame& f, Picos at, int origin) override {
        // socketcand leaves remote frames out of raw mode.
        if (raw_ && n == bus_ && origin != id_ && !f.rtr) {
            queue(message("frame", f.ide ? 8 : 3, f.id, at) + hex_data(f) + " >");
        }
    }
    // As socketcand writes an error frame: its class, CAN_ERR_FLAG's other bits.
    void error(int n, const CanError& e) override {
        if (raw_ && n == bus_) {
            const uint32_t kProt = 0x08U, kAck = 0x20U, kBusError = 0x80U;
            queue(message("error", 3, (e.kind == CanError::kAck ? kAck : kProt) | kBusError, e.at) +
                  ">");
        }
    }

  private:
    // Each on a line of its own: python-can 4.1 drops the character after
    // the last whole message of a read, which must not be the next one's '<'.
    static std::string message(const char* kind, int digits, uint32_t id, Picos at) {
        const uint64_t us = at / kPsPerUs;
        char text[80];
        std::snprintf(text, sizeof text, "\n< %s %0*X %llu.%06llu ", kind, digits, id,
                      static_cast<unsigned long long>(us / 1000000U),
                      static_cast<unsigned long long>(us % 1000000U));
        return text;
    }

    void command(const std::string& text, std::vector<std::unique_ptr<LiveCan::Node>>& nodes) {
        std::istringstream words(text);
        std::vector<std::string> w;
        for (std::string word; words >> word;) {
            w.push_back(word);
        }
        if (w.empty()) {
            queue("< error empty command >");
        } else if (w[0] == "open" && w.size() == 2 && bus_ == 0) {
            bus_ = w[1] == "can1" ? 1 : w[1] == "can2" ? 2 : 0;
            queue(bus_ ? "< ok >" : "< error could not open bus: can1 or can2 >");
        } else if (w[0] == "echo") {
            queue("< echo >");
        } else if ((w[0] == "rawmode" || w[0] == "bcmmode") && w.size() == 1 && bus_ != 0) {
            raw_ = w[0] == "rawmode";
            queue("< ok >");
        } else if (w[0] == "send" && bus_ != 0) {
            send(w, *nodes[static_cast<std::size_t>(bus_ - 1)]);
        } else {
            queue("< error unknown command or not in this mode: " + text.substr(0, 40) + " >");
        }
    }

    void send(const std::vector<std::string>& w, LiveCan::Node& node) {
        CanFrame f;
        uint32_t dlc = 0;
        bool ok = w.size() >= 3 && parse_hex(w[2], dlc) && make_frame(w[1], dlc, f) &&
                  w.size() == 3 + dlc;
        for (std::size_t i = 0; ok && i < dlc; i++) {
            uint32_t byte = 0;
            ok = parse_hex(w[3 + i], byte) && byte <= 0xFF;
            f.data[i] = static_cast<uint8_t>(byte);
        }
        if (ok) {
            node.send(f, id_);
        } else {
            queue("< error send ID LEN B0 .. B(LEN-1), hexadecimal, LEN 0 to 8 >");
        }
    }

    int bus_ = 0;  // 0: none opened yet
    bool raw_ = false;
};

// Lawicel's serial-line CAN on a pseudo-terminal: commands end with CR, are
// answered with CR (BEL for an error); "tIIILDD..", "TIIIIIIIILDD.." and the
// remote "r", "R" carry frames both ways, once the channel is open (O).
class Slcan final : public LiveCan::Client {
  public:
    Slcan(int id, int n) : Client(id, -1, false), bus_(n) {
        pty_.release();  // a program's leaving then shows as a hang-up
        fd_ = pty_.fd();
        std::fprintf(stderr, "can%d slcan on %s\n", n, pty_.path().c_str());
    }

    bool io(std::vector<std::unique_ptr<LiveCan::Node>>& nodes) override {
        if (!pty_.terminal_open()) {  // nobody there: the next program starts closed
            open_ = listen_only_ = false;
            in_.clear();
            out_.clear();
            return true;
        }
        read_in();
        for (auto end = in_.find('\r'); end != std::string::npos; end = in_.find('\r')) {
            std::string line = in_.substr(0, end);
            in_.erase(0, end + 1);
            std::erase(line, '\n');
            command(line, *nodes[static_cast<std::size_t>(bus_ - 1)]);
        }
        if (in_.size() > kMaxCommand) {
            in_.clear();
            queue("\a");
        }
        write_out();
        return true;
    }

    void frame(int n, const CanFrame& f, Picos at, int origin) override {
        if (!open_ || n != bus_ || origin == id_) {
            return;
        }
        char head[16];
        std::snprintf(head, sizeof head, f.ide ? "%c%08X%d" : "%c%03X%d",
                      (f.rtr ? 'r' : 't') - (f.ide ? 32 : 0), static_cast<unsigned>(f.id),
                      std::min<int>(f.dlc, 8));
        std::string text = head + hex_data(f);
        if (timestamps_) {  // milliseconds, wrapping after a minute
            char stamp[8];
            std::snprintf(stamp, sizeof stamp, "%04X",
                          static_cast<unsigned>((at / kPsPerMs) % 60000U));
            text += stamp;
        }
        queue(text + "\r");
    }
    void error(int n, const CanError&) override {
        if (n == bus_) {
            flags_ |= 0x80U;  // bus error
        }
    }

  private:
    void command(const std::string& line, LiveCan::Node& node) {
        if (line.empty()) {
            return;
        }
        const char c = line[0];
        const std::size_t size = line.size();
        if ((c == 'O' || c == 'L' || c == 'C') && size == 1) {
            open_ = c != 'C';
            listen_only_ = c == 'L';
            queue("\r");
        } else if ((c == 'S' && size == 2 && line[1] >= '0' && line[1] <= '8') ||
                   (c == 's' && size == 5) || ((c == 'M' || c == 'm') && size == 9)) {
            queue("\r");  // the live node keeps the bus's bit rate; no filters
        } else if ((c == 'Z' && size == 2 && (line[1] == '0' || line[1] == '1'))) {
            timestamps_ = line[1] == '1';
            queue("\r");
        } else if (c == 'V' && size == 1) {
            queue("V1010\r");
        } else if (c == 'N' && size == 1) {
            queue("NSIM" + std::to_string(bus_) + "\r");
        } else if (c == 'F' && size == 1) {
            char text[8];
            std::snprintf(text, sizeof text, "F%02X\r", flags_);
            flags_ = 0;
            queue(text);
        } else if (c == 't' || c == 'T' || c == 'r' || c == 'R') {
            send(line, node);
        } else {
            queue("\a");
        }
    }

    void send(const std::string& line, LiveCan::Node& node) {
        const bool extended = line[0] == 'T' || line[0] == 'R';
        const bool remote = line[0] == 'r' || line[0] == 'R';
        const std::size_t digits = extended ? 8 : 3;
        CanFrame f;
        f.rtr = remote;
        bool ok = open_ && !listen_only_ && line.size() >= digits + 2 && line[digits + 1] >= '0' &&
                  line[digits + 1] <= '8' &&
                  make_frame(std::string_view(line).substr(1, digits),
                             static_cast<uint32_t>(line[digits + 1] - '0'), f);
        ok = ok && line.size() == digits + 2 + (remote ? 0U : 2U * f.dlc);
        for (int i = 0; ok && !remote && i < f.dlc; i++) {
            uint32_t byte = 0;
            ok = parse_hex(std::string_view(line).substr(digits + 2 + 2 * i, 2), byte);
            f.data[i] = static_cast<uint8_t>(byte);
        }
        f.ide = extended;
        if (ok && (extended || f.id <= 0x7FFU)) {
            node.send(f, id_);
            queue(extended ? "Z\r" : "z\r");
        } else {
            queue("\a");
        }
    }

    ConsolePty pty_;
    int bus_;
    bool open_ = false, listen_only_ = false, timestamps_ = false;
    uint8_t flags_ = 0;
};

}  // namespace

LiveCan::LiveCan(const LiveCanOptions& options) {
    for (int n : options.slcan_buses) {
        clients_.push_back(std::make_unique<Slcan>(next_client_id_++, n));
    }
    if (options.server_host.empty()) {
        return;
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, options.server_host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(options.server_port);
        length = sizeof *v4;
    } else {
        inet_pton(AF_INET6, options.server_host.c_str(), &v6->sin6_addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(options.server_port);
        length = sizeof *v6;
    }
    listener_ = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        fail("socket");
    }
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const std::string where = options.server_host + ":" + std::to_string(options.server_port);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        fail("bind " + where);
    }
    if (listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("listen " + where);
    }
    const uint16_t port = ntohs(address.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    std::fprintf(stderr, "can server on %s:%u (socketcand: can1, can2)\n",
                 address.ss_family == AF_INET ? options.server_host.c_str()
                                              : ("[" + options.server_host + "]").c_str(),
                 port);
}

LiveCan::~LiveCan() {
    clients_.clear();
    if (listener_ >= 0) {
        close(listener_);
    }
}

void LiveCan::attach(Board& board) {
    for (int n = 1; n <= 2; n++) {
        nodes_.push_back(std::make_unique<Node>(board, n));
        const Node* node = nodes_.back().get();
        board.can_bus(n).add_listener(
            [this, n, node](const CanFrame& frame, Picos at, const CanNode* sender) {
                const int origin = sender == node ? node->origin() : -1;
                for (auto& client : clients_) {
                    client->frame(n, frame, at, origin);
                }
            });
        board.can_bus(n).add_error_listener([this, n](const CanError& error) {
            for (auto& client : clients_) {
                client->error(n, error);
            }
        });
    }
}

void LiveCan::poll() {
    if (nodes_.empty()) {
        return;  // not joined to a board yet
    }
    for (int fd; listener_ >= 0 &&
                 (fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
        if (clients_.size() >= kMaxClients) {
            static const char kFull[] = "< error too many clients >";
            if (::send(fd, kFull, sizeof kFull - 1, MSG_NOSIGNAL) < 0) {
                // It learns from the close alone.
            }
            close(fd);
            continue;
        }
        clients_.push_back(std::make_unique<Socketcand>(next_client_id_++, fd));
    }
    std::erase_if(clients_, [this](std::unique_ptr<Client>& c) { return !c->io(nodes_); });
}

}  // namespace sim
