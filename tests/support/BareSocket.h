// Bare exchanges over a SOCK_SEQPACKET socket pair with a thread of this
// process that answers at once: what the device contract's sockets cost
// without the library around them. The benchmarks' references; CPU of the
// calling thread only (the peer plays the camera).
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ThreadCpu.h"

namespace fotavi::test {

// Microseconds per round trip: an 8-byte request, a reply of `replyBytes`.
inline double BareRoundTripUs(int calls, size_t replyBytes) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  std::thread peer([fd = fds[1], replyBytes] {
    std::string reply(replyBytes, 'r');
    char request[8];
    while (recv(fd, request, sizeof request, 0) == static_cast<ssize_t>(sizeof request))
      send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  });
  char request[8] = {};
  char reply[8 + 4096];
  const double start = ThreadCpuSeconds();
  for (int i = 0; i < calls; ++i) {
    send(fds[0], request, sizeof request, MSG_NOSIGNAL);
    recv(fds[0], reply, sizeof reply, 0);
  }
  const double us = (ThreadCpuSeconds() - start) * 1e6 / calls;
  shutdown(fds[0], SHUT_RDWR);
  peer.join();
  close(fds[0]);
  close(fds[1]);
  return us;
}

// Milliseconds per frame of carrying frames from the camera as the pipe
// does: a 32-byte command written, then a 32-byte response and the frame's
// bytes in packets of at most `packetSize` (8 header bytes each) read into
// one packet buffer. `frameBytes` are the frames' lengths, taken in turn.
inline double BareCarryMs(const std::vector<size_t>& frameBytes, size_t packetSize, int frames) {
  if (frameBytes.empty() || packetSize <= 8) return 0;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  // Room for a whole frame in the socket, as the camera's queue has.
  const int room = 8 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  std::thread peer([fd = fds[1], frameBytes, packetSize] {
    std::vector<char> packet(packetSize, 'd');
    char command[32];
    size_t next = 0;
    while (recv(fd, command, sizeof command, 0) == static_cast<ssize_t>(sizeof command)) {
      send(fd, packet.data(), 32, MSG_NOSIGNAL);
      size_t left = frameBytes[next++ % frameBytes.size()];
      while (left > 0) {
        const size_t chunk = std::min(left, packetSize - 8);
        if (send(fd, packet.data(), chunk + 8, MSG_NOSIGNAL) < 0) return;
        left -= chunk;
      }
    }
  });
  std::vector<char> buffer(packetSize);
  char command[32] = {};
  const double start = ThreadCpuSeconds();
  for (int i = 0; i < frames; ++i) {
    send(fds[0], command, sizeof command, MSG_NOSIGNAL);
    recv(fds[0], buffer.data(), buffer.size(), 0);
    size_t left = frameBytes[size_t(i) % frameBytes.size()];
    while (left > 0) {
      const ssize_t n = recv(fds[0], buffer.data(), buffer.size(), 0);
      if (n <= 8) break;
      left -= std::min(left, size_t(n) - 8);
    }
  }
  const double ms = (ThreadCpuSeconds() - start) * 1e3 / std::max(frames, 1);
  shutdown(fds[0], SHUT_RDWR);
  peer.join();
  close(fds[0]);
  close(fds[1]);
  return ms;
}

}  // namespace fotavi::test
