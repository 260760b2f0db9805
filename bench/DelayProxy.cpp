// A TCP proxy on loopback that delays every chunk by a fixed time in each direction, to stand
// in for a database in another data centre.
//   orvendel-delay-proxy LISTEN_PORT TARGET_PORT DELAY_MS
// Prints "ready" once listening; on SIGTERM or SIGINT prints how many times the client spoke
// after hearing from the server (its round trips) and exits.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long> roundTrips{0};
std::atomic<bool> stopping{false};

struct Chunk {
    Clock::time_point due;
    std::string data;
};

// One direction of one connection: a reader queues what arrives, a writer passes it on once
// its delay is over, so chunks keep their order and their spacing.
class Direction {
public:
    Direction(int from, int to, std::chrono::milliseconds delay, bool fromClient,
              std::atomic<int>& lastSpeaker)
        : from_(from), to_(to), delay_(delay), fromClient_(fromClient), lastSpeaker_(lastSpeaker) {}

    void read() {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::recv(from_, buffer, sizeof buffer, 0);
            if (fromClient_ && n > 0 && lastSpeaker_.exchange(1) == 2)
                ++roundTrips;
            if (!fromClient_ && n > 0)
                lastSpeaker_ = 2;
            std::lock_guard lock(mutex_);
            queue_.push_back({Clock::now() + delay_, n > 0 ? std::string(buffer, size_t(n)) : ""});
            ready_.notify_one();
            if (n <= 0)
                return;
        }
    }

    void write() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty(); });
                chunk = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            if (chunk.data.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            size_t sent = 0;
            while (sent < chunk.data.size()) {
                ssize_t n =
                    ::send(to_, chunk.data.data() + sent, chunk.data.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += size_t(n);
            }
        }
    }

private:
    int from_;
    int to_;
    std::chrono::milliseconds delay_;
    bool fromClient_;
    std::atomic<int>& lastSpeaker_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> queue_;
};

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void serve(int client, int targetPort, std::chrono::milliseconds delay) {
    int server = connectTo(targetPort);
    if (server < 0) {
        ::close(client);
        return;
    }
    int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::atomic<int> lastSpeaker{0};
    Direction up(client, server, delay, true, lastSpeaker);
    Direction down(server, client, delay, false, lastSpeaker);
    std::thread threads[] = {
        std::thread(&Direction::read, &up), std::thread(&Direction::write, &up),
        std::thread(&Direction::read, &down), std::thread(&Direction::write, &down)};
    for (std::thread& t : threads)
        t.join();
    ::close(client);
    ::close(server);
}

void onSignal(int) {
    stopping = true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT DELAY_MS\n", argv[0]);
        return 2;
    }
    const int listenPort = std::atoi(argv[1]);
    const int targetPort = std::atoi(argv[2]);
    const std::chrono::milliseconds delay(std::atoi(argv[3]));

    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(listenPort));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
        std::perror("listen");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);
    while (!stopping) {
        int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        std::thread(serve, client, targetPort, delay).detach();
    }
    std::printf("round trips: %ld\n", roundTrips.load());
    return 0;
}
