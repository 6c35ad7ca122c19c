// The floor for every latency figure: a raw loopback TCP echo of length-prefixed frames,
// one thread per connection, blocking sockets, nothing else.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

static bool readAll(int fd, char *p, size_t n)
{
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

static void serve(int fd)
{
    std::vector<char> buf;
    for (;;) {
        uint32_t len = 0;
        if (!readAll(fd, reinterpret_cast<char *>(&len), 4))
            break;
        const uint32_t n = ntohl(len);
        if (n > (16u << 20))
            break;
        buf.resize(4 + n);
        memcpy(buf.data(), &len, 4);
        if (!readAll(fd, buf.data() + 4, n))
            break;
        if (::write(fd, buf.data(), buf.size()) != ssize_t(buf.size()))
            break;
    }
    ::close(fd);
}

int main(int argc, char **argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(s, 64) != 0) {
        perror("echo_server");
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
    std::printf("echo_server: listening on 127.0.0.1:%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int c = ::accept(s, nullptr, nullptr);
        if (c < 0)
            continue;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(serve, c).detach();
    }
}
