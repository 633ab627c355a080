#pragma once

// A stand-in SQL Server on 127.0.0.1 that answers a driver's pre-login and decodes the LOGIN7
// packet that follows, so that tests can see exactly which server name, database, login and
// password a driver sends. It then closes the connection: the log-in fails on the client side.
// Told to stall instead, it accepts the log-in, answers SET and USE statements and transaction
// requests, and never answers anything else, keeping the connection open. Told that it is busy,
// it refuses the log-in with SQL Server's error 17809 (every user connection in use).

#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qorv::test {

/// The fields of a LOGIN7 packet that carry the connection settings.
struct tds_login {
    QString server, database, user, password;
};

class tds_responder {
public:
    enum class mode { refuse_login, stall_after_login, busy };

    explicit tds_responder(mode m = mode::refuse_login) : mode_(m)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 4) != 0)
            qFatal("tds_responder: cannot listen on the loopback interface");
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { login_.set_value(serve()); });
    }
    ~tds_responder()
    {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    tds_responder(const tds_responder&) = delete;
    tds_responder& operator=(const tds_responder&) = delete;

    int port() const { return port_; }
    /// The decoded log-in of the first connection, once it has arrived (std::nullopt when none
    /// came within ten seconds or it could not be decoded).
    std::optional<tds_login> login() { return login_.get_future().get(); }
    /// True once a request went unanswered (stall_after_login).
    bool stalled() const { return stalled_; }
    /// Whether a request so far held `text` (stall_after_login), as a batch or in a remote
    /// procedure call's parameters.
    bool received(const QString& text) const
    {
        const std::lock_guard lock(mutex_);
        return std::any_of(requests_.begin(), requests_.end(),
                           [&](const std::vector<unsigned char>& r) { return holds(r, text); });
    }

private:
    // Reads one message (one or more packets up to end-of-message); its type, or -1.
    static int read_message(int fd, std::vector<unsigned char>& payload)
    {
        payload.clear();
        for (;;) {
            unsigned char header[8];
            if (!read_exactly(fd, header, 8))
                return -1;
            const std::size_t length = std::size_t(header[2]) << 8 | header[3];
            if (length < 8)
                return -1;
            const std::size_t at = payload.size();
            payload.resize(at + length - 8);
            if (!read_exactly(fd, payload.data() + at, length - 8))
                return -1;
            if (header[1] & 0x01) // end of message
                return header[0];
        }
    }

    static bool read_exactly(int fd, unsigned char* data, std::size_t size)
    {
        while (size > 0) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return false;
            const ssize_t n = ::read(fd, data, size);
            if (n <= 0)
                return false;
            data += n;
            size -= std::size_t(n);
        }
        return true;
    }

    static QString field(const std::vector<unsigned char>& login, std::size_t at, bool password)
    {
        const std::size_t offset = login[at] | login[at + 1] << 8;
        const std::size_t chars = login[at + 2] | login[at + 3] << 8;
        if (offset + chars * 2 > login.size())
            return QStringLiteral("<out of range>");
        std::vector<char16_t> text;
        for (std::size_t i = 0; i < chars * 2; i += 2) {
            unsigned char lo = login[offset + i], hi = login[offset + i + 1];
            if (password) { // the driver swapped the nibbles of each byte, then XORed 0xA5
                lo ^= 0xA5;
                hi ^= 0xA5;
                lo = static_cast<unsigned char>(lo << 4 | lo >> 4);
                hi = static_cast<unsigned char>(hi << 4 | hi >> 4);
            }
            text.push_back(char16_t(lo | hi << 8));
        }
        return QString::fromUtf16(text.data(), qsizetype(text.size()));
    }

    std::optional<tds_login> serve()
    {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return std::nullopt;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return std::nullopt;
        std::optional<tds_login> result;
        std::vector<unsigned char> message;
        if (read_message(fd, message) == 0x12) {
            // Pre-login answer: version 15.0, no encryption, no instance, no MARS.
            const unsigned char reply[] = {0x04, 0x01, 0x00, 38,   0x00, 0x00, 0x01,
                                           0x00,                      // header, 38 bytes in all
                                           0x00, 0x00, 21,   0x00, 6, // VERSION at 21, 6 bytes
                                           0x01, 0x00, 27,   0x00, 1, // ENCRYPTION at 27
                                           0x02, 0x00, 28,   0x00, 1, // INSTOPT at 28
                                           0x04, 0x00, 29,   0x00, 1, // MARS at 29
                                           0xff, 15,   0x00, 0x07, 0xd0, 0x00, 0x00, // end; version
                                           0x02, 0x00, 0x00}; // not supported, 0, off
            if (::write(fd, reply, sizeof reply) == ssize_t(sizeof reply) &&
                read_message(fd, message) == 0x10 && message.size() >= 94)
                result = tds_login{field(message, 52, false), field(message, 68, false),
                                   field(message, 40, false), field(message, 44, true)};
        }
        if (result && mode_ == mode::stall_after_login)
            stall(fd);
        if (result && mode_ == mode::busy)
            refuse_as_busy(fd);
        ::close(fd);
        return result;
    }

    // Replies with one message of tokens.
    static bool reply(int fd, const std::vector<unsigned char>& tokens)
    {
        std::vector<unsigned char> packet{0x04, 0x01, 0, 0, 0, 0, 1, 0};
        packet.insert(packet.end(), tokens.begin(), tokens.end());
        packet[2] = static_cast<unsigned char>(packet.size() >> 8);
        packet[3] = static_cast<unsigned char>(packet.size() & 0xff);
        return ::write(fd, packet.data(), packet.size()) == ssize_t(packet.size());
    }

    // The end of a batch's (DONE) or a remote procedure call's (DONEPROC) results.
    static std::vector<unsigned char> done(bool procedure = false)
    {
        return {static_cast<unsigned char>(procedure ? 0xfe : 0xfd),
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                0};
    }

    static bool holds(const std::vector<unsigned char>& message, const QString& text)
    {
        std::vector<unsigned char> needle;
        for (const QChar c : text)
            needle.insert(needle.end(), {static_cast<unsigned char>(c.unicode() & 0xff),
                                         static_cast<unsigned char>(c.unicode() >> 8)});
        return std::search(message.begin(), message.end(), needle.begin(), needle.end()) !=
               message.end();
    }

    // An ERROR token with the server's message 17809, then the end of the log-in's results.
    static void refuse_as_busy(int fd)
    {
        const QString text = QStringLiteral("Could not connect because the maximum number of "
                                            "'20' user connections has already been reached.");
        std::vector<unsigned char> error{0xaa, 0, 0, 0x91, 0x45, 0, 0, 1, 20}; // 17809, 1, 20
        const auto utf16 = [&error](const QString& s, bool wide_length) {
            error.push_back(static_cast<unsigned char>(s.size() & 0xff));
            if (wide_length)
                error.push_back(static_cast<unsigned char>(s.size() >> 8));
            for (const QChar c : s)
                error.insert(error.end(), {static_cast<unsigned char>(c.unicode() & 0xff),
                                           static_cast<unsigned char>(c.unicode() >> 8)});
        };
        utf16(text, true);
        utf16(QStringLiteral("qorv"), false);    // server
        utf16(QString(), false);                 // procedure
        error.insert(error.end(), {1, 0, 0, 0}); // line
        error[1] = static_cast<unsigned char>((error.size() - 3) & 0xff);
        error[2] = static_cast<unsigned char>((error.size() - 3) >> 8);
        std::vector<unsigned char> tokens = error;
        auto d = done();
        d[1] = 0x02; // DONE_ERROR
        tokens.insert(tokens.end(), d.begin(), d.end());
        reply(fd, tokens);
    }

    // Accepts the log-in, then answers until a request that is neither a SET statement nor a
    // transaction request comes; from then on it reads nothing until the responder goes.
    void stall(int fd)
    {
        std::vector<unsigned char> ack{0xad, 0, 0, 1, 0x73, 0x0b, 0x00, 0x03, 4};
        for (char c : {'q', 'o', 'r', 'v'})
            ack.insert(ack.end(), {static_cast<unsigned char>(c), 0});
        ack.insert(ack.end(), {15, 0, 0, 0});
        ack[1] = static_cast<unsigned char>(ack.size() - 3);
        std::vector<unsigned char> tokens = ack;
        const auto d = done();
        tokens.insert(tokens.end(), d.begin(), d.end());
        if (!reply(fd, tokens))
            return;
        std::vector<unsigned char> message;
        for (;;) {
            const int type = read_message(fd, message);
            if (type < 0)
                return;
            {
                const std::lock_guard lock(mutex_);
                requests_.push_back(message);
            }
            const QString text = type == 0x01 ? batch_text(message) : QString();
            if (type == 0x0e || text.startsWith(QLatin1String("set "), Qt::CaseInsensitive) ||
                holds(message, QStringLiteral("use ["))) {
                if (!reply(fd, done(type == 0x03)))
                    return;
                continue;
            }
            stalled_ = true;
            while (!stop_) {
                pollfd p{fd, 0, 0};
                ::poll(&p, 1, 50);
            }
            return;
        }
    }

    // The text of a SQL batch after its headers.
    static QString batch_text(const std::vector<unsigned char>& batch)
    {
        if (batch.size() < 4)
            return {};
        const std::size_t headers = batch[0] | batch[1] << 8 | batch[2] << 16 | batch[3] << 24;
        std::vector<char16_t> text;
        for (std::size_t i = headers; i + 1 < batch.size(); i += 2)
            text.push_back(char16_t(batch[i] | batch[i + 1] << 8));
        return QString::fromUtf16(text.data(), qsizetype(text.size())).trimmed();
    }

    mode mode_;
    mutable std::mutex mutex_;
    std::vector<std::vector<unsigned char>> requests_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stalled_{false};
    int listener_ = -1;
    int port_ = 0;
    std::promise<std::optional<tds_login>> login_;
    std::thread thread_;
};

} // namespace qorv::test
