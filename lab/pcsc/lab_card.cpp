// lab-card: one simulated smart card plugged into a vpcd reader slot, and the
// confirmation token's state file tools.
//
//   lab-card serve --port P --kind KIND [--dir STATE_DIR] [--device NAME]
//   lab-card vel-init STATE_DIR NAME [SERIAL_HEX]
//   lab-card vel-set STATE_DIR NAME KEY=VALUE...
//   lab-card vel-get STATE_DIR NAME KEY
//
// The card is inserted while the process is connected to vpcd's port and
// removed when it exits (SIGTERM, or a card that leaves by itself).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "cards.h"
#include "vel_card.h"

namespace
{

class Link
{
  public:
    // Retries while vpcd is not listening yet, up to `wait`.
    Link(int port, std::chrono::milliseconds wait)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (m_fd < 0) {
                throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
            }
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<std::uint16_t>(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                break;
            }
            ::close(m_fd);
            m_fd = -1;
            if (std::chrono::steady_clock::now() > deadline) {
                throw std::runtime_error("no vpcd on port " + std::to_string(port));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    // Leaves in the middle of an exchange as a card pulled out of a real
    // reader: the exchange fails (SCARD_E_NOT_TRANSACTED) and the slot is
    // empty. vpcd takes a plain close, or a reset alone, for an empty answer
    // that succeeded; an answer cut short by a reset fails the exchange.
    void abandon()
    {
        const std::uint8_t header[2] = {0x00, 0x02};
        ::send(m_fd, header, sizeof header, MSG_NOSIGNAL);
        const linger now{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        ::close(m_fd);
        m_fd = -1;
    }

    // false when vpcd closed the connection.
    bool receive(lab::bytes& message)
    {
        std::uint8_t header[2];
        if (!readAll(header, 2)) {
            return false;
        }
        message.resize(static_cast<std::size_t>(header[0] << 8 | header[1]));
        return message.empty() || readAll(message.data(), message.size());
    }

    void send(const lab::bytes& message)
    {
        lab::bytes out{static_cast<std::uint8_t>(message.size() >> 8),
                       static_cast<std::uint8_t>(message.size())};
        out.insert(out.end(), message.begin(), message.end());
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::send(m_fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                throw std::runtime_error("vpcd connection lost");
            }
            done += static_cast<std::size_t>(n);
        }
    }

  private:
    bool readAll(std::uint8_t* p, std::size_t n)
    {
        while (n > 0) {
            // vpcd writes length and payload separately: without quick
            // acknowledgement every exchange waits for the delayed ACK.
            int one = 1;
            ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            const ssize_t got = ::recv(m_fd, p, n, 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

    int m_fd = -1;
};

int serve(int argc, char** argv)
{
    lab::CardOptions options;
    int port = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--port") {
            port = std::stoi(value);
        } else if (key == "--kind") {
            options.kind = value;
        } else if (key == "--dir") {
            options.stateDir = value;
        } else if (key == "--device") {
            options.device = value;
        } else {
            throw std::invalid_argument("unknown option " + key);
        }
    }
    if (port <= 0 || port > 65535 || options.kind.empty()) {
        throw std::invalid_argument("serve needs --port and --kind");
    }
    auto card = lab::makeCard(options);
    Link link(port, std::chrono::seconds(30));
    lab::bytes message;
    while (link.receive(message)) {
        if (message.size() == 1) {
            switch (message[0]) {
            case 0x00: // power off
            case 0x02: // reset
                card->powerOff();
                break;
            case 0x04: // get ATR
                link.send(card->atr());
                break;
            default: // power on and anything unknown: nothing to answer
                break;
            }
            continue;
        }
        std::optional<lab::bytes> answer;
        try {
            answer = card->process(message);
        } catch (const std::exception& e) {
            std::cerr << "lab-card: " << e.what() << '\n';
            answer = lab::swOnly(0x6F00);
        }
        card->exchanged(message, answer);
        if (card->leaving()) {
            link.abandon();
            break;
        }
        if (answer) {
            link.send(*answer);
        }
    }
    return 0;
}

int velTool(const std::string& command, int argc, char** argv)
{
    if (argc < 4) {
        throw std::invalid_argument(command + " needs STATE_DIR NAME");
    }
    const std::string dir = argv[2];
    const std::string name = argv[3];
    lab::VelState state(lab::VelState::pathFor(dir, name));
    if (command == "vel-init") {
        std::filesystem::create_directories(std::filesystem::path(dir) / "vel");
        state.create(argc > 4 ? argv[4] : "87D61200");
        state.save();
        return 0;
    }
    state.load();
    if (command == "vel-get") {
        if (argc != 5) {
            throw std::invalid_argument("vel-get needs KEY");
        }
        std::cout << state.get(argv[4]) << '\n';
        return 0;
    }
    for (int i = 4; i < argc; ++i) {
        const std::string pair = argv[i];
        const auto eq = pair.find('=');
        if (eq == std::string::npos) {
            throw std::invalid_argument("expected KEY=VALUE, got " + pair);
        }
        state.set(pair.substr(0, eq), pair.substr(eq + 1));
    }
    state.save();
    return 0;
}

} // namespace

// libgcrypt keeps its random pool for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libgcrypt.so\n";
}

int main(int argc, char** argv)
{
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "serve") {
            return serve(argc, argv);
        }
        if (command == "vel-init" || command == "vel-set" || command == "vel-get") {
            return velTool(command, argc, argv);
        }
        std::cerr << "usage: lab-card serve --port P --kind KIND [--dir STATE_DIR] [--device NAME]\n"
                     "       lab-card vel-init|vel-set|vel-get STATE_DIR NAME ...\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "lab-card: " << e.what() << '\n';
        return 1;
    }
}
