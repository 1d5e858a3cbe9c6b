#include "PipeClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace fotavi::test {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

namespace {

Bytes Header(uint16_t type, uint16_t seq, uint32_t len, size_t total) {
  Bytes p(total, 0);
  p[0] = static_cast<uint8_t>(type);
  p[1] = static_cast<uint8_t>(type >> 8);
  p[2] = static_cast<uint8_t>(seq);
  p[3] = static_cast<uint8_t>(seq >> 8);
  Put32(p, 4, len);
  return p;
}

int ConnectSeqPacket(const std::string& path) {
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  memcpy(addr.sun_path, path.c_str(), path.size());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

ReadResult ReadPacket(int fd, Bytes* packet, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int r = poll(&p, 1, timeoutMs);
  if (r == 0) return ReadResult::Timeout;
  if (r < 0) return ReadResult::Closed;
  packet->resize(1 << 20);
  ssize_t n = recv(fd, packet->data(), packet->size(), 0);
  if (n < 0) return ReadResult::Closed;
  packet->resize(static_cast<size_t>(n));
  // A zero-length datagram and the end of the connection look alike here;
  // tell them apart by whether the peer has gone.
  if (n == 0) {
    pollfd q{fd, POLLIN, 0};
    if (poll(&q, 1, 0) == 1 && (q.revents & POLLHUP)) return ReadResult::Closed;
  }
  return ReadResult::Packet;
}

}  // namespace

PipeClient::~PipeClient() { Close(); }

bool PipeClient::Connect(const std::string& path) {
  Close();
  fd_ = ConnectSeqPacket(path);
  return fd_ >= 0;
}

void PipeClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool PipeClient::Send(const Bytes& packet) {
  return fd_ >= 0 && send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(packet.size());
}

bool PipeClient::SendCommand(uint16_t cmd, uint16_t seq, uint32_t param) {
  Bytes p = Header(0, seq, 24, 32);
  p[8] = static_cast<uint8_t>(cmd);
  p[9] = static_cast<uint8_t>(cmd >> 8);
  Put32(p, 12, param);
  return Send(p);
}

bool PipeClient::SendPath(uint16_t seq, const std::string& path) {
  Bytes p = Header(2, seq, 36, 44);
  memcpy(&p[8], path.data(), std::min<size_t>(32, path.size()));
  return Send(p);
}

bool PipeClient::SendRange(uint16_t seq, const std::string& path, uint32_t first) {
  Bytes p = Header(2, seq, 36, 52);
  memcpy(&p[8], path.data(), std::min<size_t>(32, path.size()));
  Put32(p, 44, first);
  Put32(p, 48, first + 2047);
  return Send(p);
}

bool PipeClient::SendFileData(uint16_t seq, const Bytes& data, uint32_t packetSize) {
  Bytes stream(12);
  Put32(stream, 0, 0x80);
  Put32(stream, 4, static_cast<uint32_t>(data.size()));
  stream.insert(stream.end(), data.begin(), data.end());
  size_t pos = 0;
  while (pos < stream.size()) {
    size_t chunk = std::min<size_t>(packetSize - 8, stream.size() - pos);
    Bytes p = Header(2, seq, static_cast<uint32_t>(chunk), 8 + chunk);
    memcpy(&p[8], &stream[pos], chunk);
    if (!Send(p)) return false;
    pos += chunk;
  }
  return true;
}

ReadResult PipeClient::Read(Bytes* packet, int timeoutMs) { return ReadPacket(fd_, packet, timeoutMs); }

bool PipeClient::ReadData(uint32_t length, Bytes* out, int timeoutMs) {
  size_t want = out->size() + length;
  Bytes p;
  while (out->size() < want) {
    if (Read(&p, timeoutMs) != ReadResult::Packet || p.size() <= 8 || U16(p.data()) != 2) return false;
    out->insert(out->end(), p.begin() + 8, p.end());
  }
  return out->size() == want;
}

bool PipeClient::Simple(uint16_t cmd, uint16_t seq, uint32_t* status, uint32_t param) {
  Bytes r;
  if (!SendCommand(cmd, seq, param) || Read(&r) != ReadResult::Packet || r.size() != 32) return false;
  if (U16(r.data()) != 0 || U16(r.data() + 2) != seq || U32(r.data() + 4) != 24) return false;
  *status = cmd == 0x808E ? (U32(r.data() + 8) & 0xFFFF) : U32(r.data() + 12);
  return true;
}

bool PipeClient::Frame(uint16_t seq, uint32_t* frameStatus, Bytes* frame, uint32_t* announced) {
  Bytes r;
  if (!SendCommand(0x808E, seq) || Read(&r) != ReadResult::Packet || r.size() != 32) return false;
  *frameStatus = U32(r.data() + 8) & 0xFFFF;
  uint32_t length = U32(r.data() + 12);
  if (announced) *announced = length;
  frame->clear();
  return ReadData(length, frame);
}

bool PipeClient::RootList(uint16_t seq, uint32_t* status, std::vector<std::string>* entries) {
  Bytes r;
  if (!SendCommand(0x8102, seq) || Read(&r) != ReadResult::Packet || r.size() != 32) return false;
  *status = U32(r.data() + 12);
  uint32_t count = U32(r.data() + 16);
  Bytes data;
  if (!ReadData(count * 36, &data)) return false;
  entries->clear();
  for (uint32_t i = 0; i < count; ++i) entries->emplace_back(reinterpret_cast<const char*>(&data[i * 36]), strnlen(reinterpret_cast<const char*>(&data[i * 36]), 36));
  return true;
}

bool PipeClient::ReadFile(uint16_t cmd, uint16_t seq, const std::string& path, uint32_t* status, Bytes* data) {
  if (!Simple(cmd, seq, status) || !SendPath(seq, path)) return false;
  Bytes p;
  if (Read(&p) != ReadResult::Packet || p.size() < 20 || U16(p.data()) != 2) return false;
  uint32_t length = U32(p.data() + 12);
  data->assign(p.begin() + 20, p.end());
  if (data->size() > length) return false;
  return ReadData(length - static_cast<uint32_t>(data->size()), data);
}

bool PipeClient::FolderList(uint16_t seq, const std::string& path, uint32_t* listStatus,
                            std::vector<std::string>* entries, int* portions) {
  entries->clear();
  *listStatus = 0;
  if (portions) *portions = 0;
  for (uint32_t first = 0;; first += 2048) {
    uint32_t status;
    if (!Simple(0x8105, seq, &status) || !SendRange(seq, path, first)) return false;
    if (portions) ++*portions;
    Bytes p;
    if (Read(&p) != ReadResult::Packet || p.size() < 16 || U16(p.data()) != 2) return false;
    *listStatus = U32(p.data() + 8);
    uint32_t count = U32(p.data() + 12);
    Bytes bytes(p.begin() + 16, p.end());
    if (*listStatus != 0) return count == 0 && bytes.empty();
    if (bytes.size() > count * 36u || !ReadData(count * 36 - static_cast<uint32_t>(bytes.size()), &bytes)) return false;
    for (uint32_t i = 0; i < count; ++i)
      entries->emplace_back(reinterpret_cast<const char*>(&bytes[i * 36]), strnlen(reinterpret_cast<const char*>(&bytes[i * 36]), 36));
    if (count < 2048) return true;
  }
}

bool PipeClient::WriteFile(uint16_t cmd, uint16_t seq, const std::string& path, const Bytes& data,
                           uint32_t packetSize, uint32_t* first, uint32_t* final) {
  uint32_t status;
  *final = 0xFFFFFFFF;
  if (!Simple(cmd, seq, &status) || !SendPath(seq, path)) return false;
  Bytes r;
  if (Read(&r) != ReadResult::Packet || r.size() < 16) return false;
  *first = U32(r.data() + 12);
  if (!(*first == 0 || (*first == 32 && cmd == 0x107))) return true;
  if (!SendFileData(seq, data, packetSize) || Read(&r) != ReadResult::Packet || r.size() < 16) return false;
  *final = U32(r.data() + 12);
  return true;
}

bool PipeClient::PathCommand(uint16_t cmd, uint16_t seq, const std::string& path, uint32_t* status) {
  uint32_t first;
  if (!Simple(cmd, seq, &first) || !SendPath(seq, path)) return false;
  Bytes r;
  if (Read(&r) != ReadResult::Packet || r.size() < 16) return false;
  *status = U32(r.data() + 12);
  return true;
}

bool ControlCall(const std::string& controlPath, uint32_t code, uint32_t outLength, uint32_t* ok, Bytes* data) {
  int fd = ConnectSeqPacket(controlPath);
  if (fd < 0) return false;
  Bytes q(8);
  Put32(q, 0, code);
  Put32(q, 4, outLength);
  bool good = send(fd, q.data(), q.size(), MSG_NOSIGNAL) == 8;
  Bytes r;
  good = good && ReadPacket(fd, &r, 5000) == ReadResult::Packet && r.size() >= 8 && r.size() == 8 + U32(r.data() + 4);
  close(fd);
  if (!good) return false;
  *ok = U32(r.data());
  data->assign(r.begin() + 8, r.end());
  return true;
}

namespace {

// ITU-T T.81 Annex K, tables K.3 to K.6: code counts per length, then values.
const uint8_t kDcLumaBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kDcChromaBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kAcLumaBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t kAcLumaValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const uint8_t kAcChromaBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t kAcChromaValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

void Append(Bytes& b, std::initializer_list<int> v) {
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
}
void AppendTable(Bytes& b, int classAndId, const uint8_t* bits, const uint8_t* values, size_t count) {
  b.push_back(static_cast<uint8_t>(classAndId));
  b.insert(b.end(), bits, bits + 16);
  b.insert(b.end(), values, values + count);
}

}  // namespace

Bytes BuildJpegHeader() {
  // Quantisation values in the order they are stored (zig-zag).
  const uint8_t luma[64] = {2, 2, 2,  2, 2,  2,  2,  2,  2,  2,  2,  2,  2,  2,  3,  5,  3,  3,  3,  3,  3, 6,
                            4, 4, 3,  5, 7,  6,  7,  7,  7,  6,  7,  6,  8,  8,  11, 9,  8,  8,  10, 8, 6, 7,
                            9, 13, 9, 10, 11, 11, 12, 12, 12, 7, 9, 13, 14, 13, 12, 14, 11, 12, 12, 12};
  uint8_t chroma[64];
  const uint8_t chromaHead[16] = {2, 2, 2, 3, 2, 3, 6, 3, 3, 6, 12, 8, 7, 8, 12, 12};
  memset(chroma, 12, sizeof chroma);
  memcpy(chroma, chromaHead, sizeof chromaHead);

  Bytes h;
  Append(h, {0xFF, 0xD8});
  Append(h, {0xFF, 0xDB, 0x00, 2 + 2 * 65, 0x00});
  h.insert(h.end(), luma, luma + 64);
  h.push_back(0x01);
  h.insert(h.end(), chroma, chroma + 64);
  Append(h, {0xFF, 0xC4, 0x01, 0xA2});  // length 418
  AppendTable(h, 0x00, kDcLumaBits, kDcValues, 12);
  AppendTable(h, 0x10, kAcLumaBits, kAcLumaValues, 162);
  AppendTable(h, 0x01, kDcChromaBits, kDcValues, 12);
  AppendTable(h, 0x11, kAcChromaBits, kAcChromaValues, 162);
  Append(h, {0xFF, 0xC0, 0x00, 17, 8, 768 >> 8, 768 & 0xFF, 1024 >> 8, 1024 & 0xFF, 3});
  Append(h, {1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1});
  return h;
}

namespace {
struct DecodeError {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};
void DecodeErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<DecodeError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  longjmp(e->jump, 1);
}
void DecodeWarning(j_common_ptr cinfo, int level) {
  // Corrupt data is reported as a warning by libjpeg; treat it as a failure.
  if (level < 0) DecodeErrorExit(cinfo);
}
}  // namespace

bool DecodeJpeg(const Bytes& jpeg, int* width, int* height, Bytes* bgr, std::string* errorArg) {
  std::string* volatile error = errorArg;
  jpeg_decompress_struct cinfo;
  DecodeError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = DecodeErrorExit;
  err.pub.emit_message = DecodeWarning;
  if (setjmp(err.jump)) {
    if (error) *error = err.message;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  *width = static_cast<int>(cinfo.output_width);
  *height = static_cast<int>(cinfo.output_height);
  bgr->assign(static_cast<size_t>(*width) * *height * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = bgr->data() + static_cast<size_t>(cinfo.output_scanline) * *width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace fotavi::test
