#include "vpcd_card.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vpcd
{

namespace
{

// Reads exactly len bytes unless the peer closes, an error occurs or the wake pipe fires.
bool ReadFull(int fd, int wake, unsigned char *buf, size_t len)
{
    size_t got = 0;
    while (got < len) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents)
            return false;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t r = recv(fd, buf + got, len - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
        // acknowledge at once: the reader driver sends a frame's length and its
        // bytes in two writes, and would hold the second until this side's
        // delayed acknowledgement of the first (40 ms for every APDU)
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof(one));
    }
    return true;
}

bool WriteFull(int fd, const unsigned char *buf, size_t len)
{
    size_t sent = 0;
    while (sent < len) {
        ssize_t r = send(fd, buf + sent, len - sent, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

bool SendFrame(int fd, const Bytes &payload)
{
    if (payload.size() > 0xFFFF)
        return false;
    Bytes frame(2 + payload.size());
    frame[0] = static_cast<unsigned char>(payload.size() >> 8);
    frame[1] = static_cast<unsigned char>(payload.size());
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    return WriteFull(fd, frame.data(), frame.size());
}

int ConnectOnce(const std::string &host, int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}

} // namespace

int PortOfReader(int index)
{
    return 35963 + index;
}

std::string NameOfReader(int index)
{
    char name[32];
    snprintf(name, sizeof(name), "Virtual PCD 00 %02d", index);
    return name;
}

VirtualCard::VirtualCard(CardHandler &handler, int port, std::string host)
    : m_handler(handler), m_port(port), m_host(std::move(host))
{
}

VirtualCard::~VirtualCard()
{
    Remove();
}

bool VirtualCard::Insert(int timeoutMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_thread.joinable()) {
        if (m_linked)
            return true;
        // the reader closed the last link: clean it up before connecting again
        m_thread.join();
        close(m_fd);
        close(m_wakeRead);
        close(m_wakeWrite);
        m_fd = m_wakeRead = m_wakeWrite = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int fd;
    for (;;) {
        fd = ConnectOnce(m_host, m_port);
        if (fd >= 0)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    m_fd = fd;
    m_wakeRead = pipefd[0];
    m_wakeWrite = pipefd[1];
    m_linked = true;
    m_thread = std::thread(&VirtualCard::Serve, this, fd);
    return true;
}

void VirtualCard::Remove()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_thread.joinable())
        return;
    char b = 0;
    ssize_t ignored = write(m_wakeWrite, &b, 1);
    (void)ignored;
    shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    close(m_fd);
    close(m_wakeRead);
    close(m_wakeWrite);
    m_fd = m_wakeRead = m_wakeWrite = -1;
    m_linked = false;
}

bool VirtualCard::Inserted() const
{
    return m_linked;
}

void VirtualCard::Serve(int fd)
{
    for (;;) {
        unsigned char head[2];
        if (!ReadFull(fd, m_wakeRead, head, 2))
            break;
        size_t len = (static_cast<size_t>(head[0]) << 8) | head[1];
        Bytes frame(len);
        if (len && !ReadFull(fd, m_wakeRead, frame.data(), len))
            break;
        if (len == 1) {
            switch (frame[0]) {
            case 0:
                m_handler.PowerOff();
                break;
            case 1:
                m_handler.PowerOn();
                break;
            case 2:
                m_handler.Reset();
                break;
            case 4:
                if (!SendFrame(fd, m_handler.Atr()))
                    goto done;
                break;
            default:
                break; // unknown control: no reply
            }
        } else if (len > 1) {
            // a card that answers nothing falls silent: the reader driver would wait for
            // ever on an empty frame, so the link ends and the host sees the card gone
            Bytes reply = m_handler.Apdu(frame);
            if (reply.empty() || !SendFrame(fd, reply))
                break;
        }
    }
done:
    // the reader sees the card gone at once, also when the link ended on this side
    shutdown(fd, SHUT_RDWR);
    m_handler.Disconnected();
    m_linked = false;
}

} // namespace vpcd
