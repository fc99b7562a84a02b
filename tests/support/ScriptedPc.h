// A small scripted PC on the slave end of a pseudo-terminal: test files, their packets, and a PC
// that either follows the protocol to the letter or reacts to whatever arrives, as the real one
// does. For tests of IRDs on the other end of the line.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Link.h"
#include "support/RawTtyEnd.h"

namespace irdload::test {

using Bytes = std::vector<std::uint8_t>;

// How often the reacting PC repeats its connect request while no answer comes.
inline constexpr std::chrono::milliseconds kConnectRepeat{50};
// Only ever a bound on a wait, never a claim about speed: sanitizer builds share two cores.
inline constexpr std::chrono::milliseconds kReplyBound{10000};

inline std::string Hex(std::uint8_t byte) {
  std::ostringstream out;
  out << "0x" << std::hex << std::setw(2) << std::setfill('0') << int{byte};
  return out.str();
}

inline bool IsCommandLike(std::uint8_t byte) {
  const std::uint8_t normalised = NormaliseReply(byte);
  return normalised >= CMD_CONNECT_REQ && normalised <= CMD_CONNECT_RE_ACK;
}

struct TestFile {
  Bytes header;
  Bytes payload;
};

// An upgrade file with a valid header; the bytes the IRD must pass through are not zero, so a
// header stored in the wrong place or cut short shows.
inline TestFile MakeFile(std::uint32_t payloadSize, std::uint32_t typeCode = kTypeSingle,
                         std::uint8_t salt = 1) {
  TestFile file;
  file.header.resize(kHeaderSize);
  for (std::size_t i = 0; i < kHeaderSize; ++i) {
    file.header[i] = static_cast<std::uint8_t>(i * 7 + salt);
  }
  WriteLe32(&file.header[kMagicOffset], kImageMagic);
  WriteLe32(&file.header[kTypeOffset], typeCode);
  WriteLe32(&file.header[kSizeOffset], payloadSize);
  file.payload.resize(payloadSize);
  for (std::uint32_t i = 0; i < payloadSize; ++i) {
    file.payload[i] = static_cast<std::uint8_t>(i * 31 + i / 251 + salt);
  }
  return file;
}

inline std::vector<Bytes> PacketsOf(const TestFile& file) {
  const auto size = static_cast<std::uint32_t>(file.payload.size());
  const std::uint32_t last = LastPacketIndex(size);
  std::vector<Bytes> packets;
  for (std::uint32_t k = 0; k <= last; ++k) {
    DataPacket packet{};
    BuildDataPacket(packet, file.payload.data(), size, last, k);
    packets.emplace_back(packet.begin(), packet.end());
  }
  return packets;
}

// The PC's end of the line: the slave opened raw, as a serial port would be.
class PcEnd : public RawTtyEnd {
 public:
  ::testing::AssertionResult Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return ::testing::AssertionFailure() << "write: " << std::strerror(errno);
      done += static_cast<std::size_t>(n);
    }
    return ::testing::AssertionSuccess();
  }

  // One byte, or nothing when the bound passes or the line is gone.
  std::optional<std::uint8_t> Receive(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(left.count()) + 1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return std::nullopt;
      std::uint8_t byte = 0;
      const ssize_t n = read(fd_, &byte, 1);
      if (n == 1) return byte;
      if (n < 0 && errno == EINTR) continue;
      return std::nullopt;
    }
  }

  ::testing::AssertionResult Expect(std::uint8_t expected) {
    const std::optional<std::uint8_t> got = Receive(kReplyBound);
    if (!got) return ::testing::AssertionFailure() << "no reply, expected " << Hex(expected);
    if (*got != expected) {
      return ::testing::AssertionFailure() << "got " << Hex(*got) << ", expected " << Hex(expected);
    }
    return ::testing::AssertionSuccess();
  }
};

// What a strictly scripted PC sent and was answered, to compare with the IRD's wire logs.
struct Wire {
  Bytes fromPc;
  Bytes toPc;
};

inline ::testing::AssertionResult Step(PcEnd& pc, Wire& wire, const Bytes& send,
                                       std::optional<std::uint8_t> reply) {
  if (auto sent = pc.Send(send); !sent) return sent;
  wire.fromPc.insert(wire.fromPc.end(), send.begin(), send.end());
  if (!reply) return ::testing::AssertionSuccess();
  if (auto heard = pc.Expect(*reply); !heard) return heard << " after " << send.size() << " bytes";
  wire.toPc.push_back(*reply);
  return ::testing::AssertionSuccess();
}

// Connect, then have the header accepted.
inline ::testing::AssertionResult Connect(PcEnd& pc, Wire& wire, const TestFile& file) {
  for (const auto& [send, reply] :
       std::vector<std::pair<Bytes, std::uint8_t>>{{{CMD_CONNECT_REQ}, CMD_CONNECT_ACK},
                                                   {{CMD_CONNECT_RE_ACK}, CMD_HEADER_REQ},
                                                   {file.header, CMD_HEADER_ACK}}) {
    if (auto step = Step(pc, wire, send, reply); !step) return step;
  }
  return ::testing::AssertionSuccess();
}

// From the header answer to the terminate answer, every packet accepted.
inline ::testing::AssertionResult SendPayload(PcEnd& pc, Wire& wire, const TestFile& file) {
  if (auto step = Step(pc, wire, {CMD_HEADER_ANSWER}, CMD_DATA_REQ); !step) return step;
  const std::vector<Bytes> packets = PacketsOf(file);
  for (std::size_t k = 0; k < packets.size(); ++k) {
    if (auto step = Step(pc, wire, packets[k], CMD_DATA_ACK); !step) return step << " packet " << k;
    const std::uint8_t next = k + 1 < packets.size() ? CMD_DATA_REQ : CMD_TERMINATE_OK;
    if (auto step = Step(pc, wire, {CMD_DATA_ANSWER}, next); !step) return step;
  }
  return Step(pc, wire, {CMD_TERMINATE_ANSWER}, std::nullopt);
}

inline ::testing::AssertionResult RunFile(PcEnd& pc, Wire& wire, const TestFile& file) {
  if (auto connected = Connect(pc, wire, file); !connected) return connected;
  return SendPayload(pc, wire, file);
}

// A PC that reacts to whatever arrives, as the real one does: it repeats the connect request
// until answered, resends a rejected packet, and ignores noise.
struct PcOutcome {
  bool finished = false;  // answered the last file's terminate request
  bool lineGone = false;  // saw the hang-up
  bool confused = false;  // asked for a packet beyond the last
  Bytes received;
  std::size_t packetsSent = 0;
};

// Gives up when `settled` says the IRD will send nothing more (it went silent, say), once every
// byte it did send has been read; `patience` only bounds the wait.
inline PcOutcome RunReactingPc(PcEnd& pc, const std::vector<TestFile>& files,
                               std::chrono::milliseconds patience,
                               const std::function<bool(std::size_t received)>& settled = {}) {
  using Clock = std::chrono::steady_clock;
  PcOutcome out;
  std::size_t fileIndex = 0;
  std::vector<Bytes> packets = PacketsOf(files[0]);
  std::size_t nextPacket = 0;
  bool connecting = true;
  auto lastHeard = Clock::now();
  auto lastConnectRequest = Clock::now();
  const auto send = [&](const Bytes& bytes) {
    if (!pc.Send(bytes)) out.lineGone = true;
    return !out.lineGone;
  };
  if (!send({CMD_CONNECT_REQ})) return out;
  for (;;) {
    pollfd p{pc.fd(), POLLIN, 0};
    const int ready = poll(&p, 1, 5);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0 && (p.revents & POLLHUP) != 0) {
      out.lineGone = true;
      return out;
    }
    if (ready > 0 && (p.revents & POLLIN) != 0) {
      std::uint8_t byte = 0;
      if (read(pc.fd(), &byte, 1) != 1) {
        out.lineGone = true;
        return out;
      }
      out.received.push_back(byte);
      lastHeard = Clock::now();
      bool sent = true;
      switch (NormaliseReply(byte)) {
        case CMD_CONNECT_ACK:
          if (connecting) sent = send({CMD_CONNECT_RE_ACK});
          connecting = false;
          break;
        case CMD_HEADER_REQ:
          sent = send(files[fileIndex].header);
          break;
        case CMD_HEADER_ACK:
        case CMD_HEADER_NACK:
          sent = send({CMD_HEADER_ANSWER});
          break;
        case CMD_DATA_REQ:
          if (nextPacket >= packets.size()) {
            out.confused = true;
            return out;
          }
          sent = send(packets[nextPacket]);
          ++out.packetsSent;
          break;
        case CMD_DATA_ACK:
          ++nextPacket;
          sent = send({CMD_DATA_ANSWER});
          break;
        case CMD_DATA_NACK:
          sent = send({CMD_DATA_ANSWER});
          break;
        case CMD_TERMINATE_OK:
        case CMD_TERMINATE_FAIL:
          if (!send({CMD_TERMINATE_ANSWER})) return out;
          if (++fileIndex == files.size()) {
            out.finished = true;
            return out;
          }
          packets = PacketsOf(files[fileIndex]);
          nextPacket = 0;
          connecting = true;
          lastConnectRequest = Clock::now();
          sent = send({CMD_CONNECT_REQ});
          break;
        default:
          break;  // noise
      }
      if (!sent) return out;
      continue;
    }
    if (connecting && Clock::now() - lastConnectRequest >= kConnectRepeat) {
      if (!send({CMD_CONNECT_REQ})) return out;
      lastConnectRequest = Clock::now();
    }
    if (settled && settled(out.received.size())) return out;
    if (Clock::now() - lastHeard > patience) return out;
  }
}

}  // namespace irdload::test
