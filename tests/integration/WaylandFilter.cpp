// nimbrel_wayland_filter UPSTREAM LISTEN INTERFACE...: a Wayland compositor that lacks the named
// interfaces, made from one that has them. It listens on the socket path LISTEN and passes every
// client's messages and file descriptors through to the compositor at the socket path UPSTREAM,
// unchanged, except the registry's announcements of the named interfaces, which it drops. It
// prints "ready" once it listens and runs until killed.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// libwayland sends at most this many descriptors with one message batch.
constexpr std::size_t kMaxFds = 28;
// wl_display.get_registry, and wl_registry.global, by opcode.
constexpr uint32_t kDisplayObject = 1;
constexpr uint16_t kGetRegistry = 1;
constexpr uint16_t kGlobal = 0;

// One direction of one connection: bytes and descriptors read, waiting to be passed on whole.
struct Stream {
  int from = -1;
  int to = -1;
  std::vector<uint8_t> bytes;
  std::vector<int> fds;
};

struct Connection {
  Stream up;    // client to compositor
  Stream down;  // compositor to client
  std::set<uint32_t> registries;
};

uint32_t word(const uint8_t* p) {
  uint32_t w = 0;
  std::memcpy(&w, p, sizeof w);
  return w;
}

int connectTo(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Reads what is there; false when the peer has gone.
bool receive(Stream& s) {
  uint8_t buffer[4096];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFds)];
  iovec iov{buffer, sizeof buffer};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(s.from, &msg, MSG_CMSG_CLOEXEC);
  if (n <= 0) return false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
      s.fds.push_back(fd);
    }
  }
  s.bytes.insert(s.bytes.end(), buffer, buffer + n);
  return true;
}

// Sends the whole messages at the front of the stream, less those that keep() refuses, with
// every descriptor read so far; false when the peer has gone.
template <typename Keep>
bool pass(Stream& s, Keep keep) {
  std::vector<uint8_t> out;
  std::size_t used = 0;
  while (s.bytes.size() - used >= 8) {
    const uint8_t* m = s.bytes.data() + used;
    const uint32_t size = word(m + 4) >> 16;
    if (size < 8 || s.bytes.size() - used < size) break;
    if (keep(m, size)) out.insert(out.end(), m, m + size);
    used += size;
  }
  s.bytes.erase(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(used));
  if (out.empty()) return true;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFds)];
  iovec iov{out.data(), out.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  const std::size_t count = std::min(s.fds.size(), kMaxFds);
  if (count > 0) {
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(sizeof(int) * count);
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int) * count);
    std::memcpy(CMSG_DATA(c), s.fds.data(), sizeof(int) * count);
  }
  std::size_t sent = 0;
  while (sent < out.size()) {
    iov.iov_base = out.data() + sent;
    iov.iov_len = out.size() - sent;
    const ssize_t n = sendmsg(s.to, &msg, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
    msg.msg_control = nullptr;
    msg.msg_controllen = 0;
  }
  for (std::size_t i = 0; i < count; ++i) close(s.fds[i]);
  s.fds.erase(s.fds.begin(), s.fds.begin() + static_cast<std::ptrdiff_t>(count));
  return true;
}

void closeConnection(Connection& c) {
  close(c.up.from);
  close(c.down.from);
  for (int fd : c.up.fds) close(fd);
  for (int fd : c.down.fds) close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: nimbrel_wayland_filter UPSTREAM LISTEN INTERFACE...\n");
    return 2;
  }
  const std::string upstream = argv[1];
  const std::set<std::string> hidden(argv + 3, argv + argc);

  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", argv[2]);
  unlink(argv[2]);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 16) != 0) {
    std::perror("nimbrel_wayland_filter: listen");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  std::vector<std::unique_ptr<Connection>> connections;
  for (;;) {
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const auto& c : connections) {
      fds.push_back({c->up.from, POLLIN, 0});
      fds.push_back({c->down.from, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents & POLLIN) {
      const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = client >= 0 ? connectTo(upstream) : -1;
      if (server >= 0) {
        auto c = std::make_unique<Connection>();
        c->up.from = c->down.to = client;
        c->down.from = c->up.to = server;
        connections.push_back(std::move(c));
      } else if (client >= 0) {
        close(client);
      }
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
      Connection& c = *connections[i];
      bool alive = true;
      if (fds[1 + 2 * i].revents) {
        alive = receive(c.up) && pass(c.up, [&c](const uint8_t* m, uint32_t size) {
                  if (word(m) == kDisplayObject && (word(m + 4) & 0xffff) == kGetRegistry &&
                      size >= 12) {
                    c.registries.insert(word(m + 8));
                  }
                  return true;
                });
      }
      if (alive && fds[2 + 2 * i].revents) {
        alive =
            receive(c.down) && pass(c.down, [&c, &hidden](const uint8_t* m, uint32_t size) {
              if (!c.registries.count(word(m)) || (word(m + 4) & 0xffff) != kGlobal || size < 16) {
                return true;
              }
              // global(name, interface, version): the string's length counts its NUL.
              const uint32_t length = word(m + 12);
              if (length == 0 || 16 + length > size) return true;
              const std::string interface(reinterpret_cast<const char*>(m + 16), length - 1);
              return hidden.count(interface) == 0;
            });
      }
      if (!alive) {
        closeConnection(c);
        connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
        break;  // the poll set no longer matches; poll again
      }
    }
  }
}
