// A slow network on loopback: a TCP proxy in front of one port that hands on every chunk it
// reads a fixed time after it came, in each direction. Bandwidth is not limited and order is
// kept, so a round trip through it costs twice the delay, and requests sent together (a
// pipeline) pay it once.
//
//   delay_proxy TARGET_PORT DELAY_MS_EACH_WAY
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk
{
    Clock::time_point due;
    std::vector<char> bytes;
};

// One direction: what was read from one socket, waiting for its time to be written to the other.
struct Direction
{
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Chunk> chunks;
    bool ended = false;
};

struct Link
{
    int client = -1, server = -1;
    Direction up, down;
    ~Link()
    {
        ::close(client);
        ::close(server);
    }
    void abort() const
    {
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
    }
};

// Holds the link, so its sockets stay open while a thread still uses them.
void readInto(const std::shared_ptr<Link> &link, int from, Direction &d, std::chrono::milliseconds delay)
{
    (void)link;
    for (;;) {
        Chunk c;
        c.bytes.resize(64 * 1024);
        const ssize_t n = ::read(from, c.bytes.data(), c.bytes.size());
        std::lock_guard lock(d.mutex);
        if (n <= 0) {
            d.ended = true;
            d.ready.notify_one();
            return;
        }
        c.bytes.resize(size_t(n));
        c.due = Clock::now() + delay;
        d.chunks.push_back(std::move(c));
        d.ready.notify_one();
    }
}

void writeFrom(const std::shared_ptr<Link> &link, Direction &d, int to)
{
    for (;;) {
        Chunk c;
        {
            std::unique_lock lock(d.mutex);
            d.ready.wait(lock, [&] { return !d.chunks.empty() || d.ended; });
            if (d.chunks.empty()) {
                ::shutdown(to, SHUT_WR); // the other side closed: pass it on
                return;
            }
            c = std::move(d.chunks.front());
            d.chunks.pop_front();
        }
        std::this_thread::sleep_until(c.due);
        for (size_t done = 0; done < c.bytes.size();) {
            const ssize_t n = ::send(to, c.bytes.data() + done, c.bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                link->abort(); // wakes the readers of both sides
                return;
            }
            done += size_t(n);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: delay_proxy TARGET_PORT DELAY_MS_EACH_WAY\n");
        return 64;
    }
    const int targetPort = std::atoi(argv[1]);
    const std::chrono::milliseconds delay(std::atoi(argv[2]));
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(s, 64) != 0) {
        perror("delay_proxy");
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
    std::printf("delay_proxy: %lld ms each way to port %d, listening on 127.0.0.1:%d\n",
                static_cast<long long>(delay.count()), targetPort, ntohs(addr.sin_port));
    std::fflush(stdout);

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(uint16_t(targetPort));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (;;) {
        const int c = ::accept(s, nullptr, nullptr);
        if (c < 0)
            continue;
        auto link = std::make_shared<Link>();
        link->client = c;
        link->server = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(link->server, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0)
            continue; // the client sees its connection closed
        setsockopt(link->client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(link->server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(readInto, link, link->client, std::ref(link->up), delay).detach();
        std::thread(writeFrom, link, std::ref(link->up), link->server).detach();
        std::thread(readInto, link, link->server, std::ref(link->down), delay).detach();
        std::thread(writeFrom, link, std::ref(link->down), link->client).detach();
    }
}
