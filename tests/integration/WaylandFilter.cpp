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
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <list>
#include <set>
#include <string>
#include <vector>

namespace {

// libwayland sends at most this many descriptors with one message batch.
constexpr size_t kMaxFds = 28;

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

sockaddr_un address(const char* path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path);
  return a;
}

std::set<std::string> gHidden;

// Whether message m of that size goes on. wl_display.get_registry (object 1, opcode 1) names a
// registry; its global events (opcode 0: name, interface as a string counting its NUL,
// version) that announce a hidden interface are dropped.
bool keep(Connection& c, bool up, const uint8_t* m, uint32_t size) {
  const uint32_t object = word(m), opcode = word(m + 4) & 0xffff;
  if (up) {
    if (object == 1 && opcode == 1 && size >= 12) c.registries.insert(word(m + 8));
    return true;
  }
  if (!c.registries.count(object) || opcode != 0 || size < 16) return true;
  const uint32_t length = word(m + 12);
  return length == 0 || 16 + length > size ||
         !gHidden.count(std::string(reinterpret_cast<const char*>(m + 16), length - 1));
}

// Reads what is there, then sends on the whole messages that keep() accepts, with every
// descriptor read so far; false once either peer has gone.
bool relay(Connection& c, bool up) {
  Stream& s = up ? c.up : c.down;
  uint8_t buffer[4096];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFds)];
  iovec iov{buffer, sizeof buffer};
  msghdr in{};
  in.msg_iov = &iov;
  in.msg_iovlen = 1;
  in.msg_control = control;
  in.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(s.from, &in, MSG_CMSG_CLOEXEC);
  if (n <= 0) return false;
  for (cmsghdr* h = CMSG_FIRSTHDR(&in); h; h = CMSG_NXTHDR(&in, h)) {
    const size_t count = (h->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    const size_t first = s.fds.size();
    s.fds.resize(first + count);
    std::memcpy(s.fds.data() + first, CMSG_DATA(h), count * sizeof(int));
  }
  s.bytes.insert(s.bytes.end(), buffer, buffer + n);

  std::vector<uint8_t> out;
  size_t used = 0;
  for (uint32_t size; s.bytes.size() - used >= 8; used += size) {
    const uint8_t* m = s.bytes.data() + used;
    size = word(m + 4) >> 16;
    if (size < 8 || s.bytes.size() - used < size) break;
    if (keep(c, up, m, size)) out.insert(out.end(), m, m + size);
  }
  s.bytes.erase(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(used));
  msghdr msg{};
  const size_t count = std::min(s.fds.size(), kMaxFds);
  if (count > 0) {
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(sizeof(int) * count);
    cmsghdr* h = CMSG_FIRSTHDR(&msg);
    *h = {CMSG_LEN(sizeof(int) * count), SOL_SOCKET, SCM_RIGHTS};
    std::memcpy(CMSG_DATA(h), s.fds.data(), sizeof(int) * count);
  }
  for (size_t sent = 0; sent < out.size();) {
    iov = {out.data() + sent, out.size() - sent};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    const ssize_t k = sendmsg(s.to, &msg, MSG_NOSIGNAL);
    if (k <= 0) return false;
    sent += static_cast<size_t>(k);
    msg.msg_control = nullptr;  // the descriptors went with the first part
    msg.msg_controllen = 0;
  }
  if (out.empty()) return true;
  for (size_t i = 0; i < count; ++i) close(s.fds[i]);
  s.fds.erase(s.fds.begin(), s.fds.begin() + static_cast<std::ptrdiff_t>(count));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: nimbrel_wayland_filter UPSTREAM LISTEN INTERFACE...\n");
    return 2;
  }
  const sockaddr_un upstream = address(argv[1]);
  const sockaddr_un listening = address(argv[2]);
  gHidden = {argv + 3, argv + argc};
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(argv[2]);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&listening), sizeof listening) != 0 ||
      listen(listener, 16) != 0) {
    std::perror("nimbrel_wayland_filter: listen");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  std::list<Connection> connections;
  for (;;) {
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const Connection& c : connections) {
      fds.push_back({c.up.from, POLLIN, 0});
      fds.push_back({c.down.from, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    size_t i = 1;
    for (auto c = connections.begin(); c != connections.end(); i += 2) {
      if ((!fds[i].revents || relay(*c, true)) && (!fds[i + 1].revents || relay(*c, false))) {
        ++c;
        continue;
      }
      for (const Stream* s : {&c->up, &c->down}) {
        close(s->from);
        for (int fd : s->fds) close(fd);
      }
      c = connections.erase(c);
    }
    if (fds[0].revents & POLLIN) {
      const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(server, reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream) == 0) {
        connections.push_back({{client, server, {}, {}}, {server, client, {}, {}}, {}});
      } else {
        close(client);
        close(server);
      }
    }
  }
}
