// Picture side of the camera: encodes 1024x768 pictures the way the camera
// streams them (fixed quantisation and Huffman tables, 2x1 luminance
// sampling, no restart markers) and keeps a ring of ready frames.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fotavi::emu {

constexpr int kFrameWidth = 1024;
constexpr int kFrameHeight = 768;

// The camera's quantisation tables in the order they travel (zig-zag).
extern const uint8_t kLumaQuantZigzag[64];
extern const uint8_t kChromaQuantZigzag[64];
// Zig-zag position -> natural (row-major) position.
extern const uint8_t kZigzagToNatural[64];

using Bytes = std::vector<uint8_t>;
using FramePtr = std::shared_ptr<const Bytes>;

// Encodes a 24-bit picture (rows of blue, green, red; kFrameWidth x
// kFrameHeight) and returns the bytes from the SOS marker to EOI, the part
// the camera sends. Empty on failure (`error` says why).
Bytes EncodeFrameData(const uint8_t* bgr, std::string* error = nullptr);

// Decodes a JPEG file into blue, green, red rows; false on failure.
bool DecodeJpegFile(const std::string& path, Bytes* bgr, int* width, int* height, std::string* error);

// Stretches a picture to kFrameWidth x kFrameHeight (bilinear).
Bytes ScaleToFrame(const Bytes& bgr, int width, int height);

// Draws test-pattern frame `index`: moving colour bars, a moving box, a grey
// ramp, the frame number in large digits and fine noise.
Bytes DrawPatternFrame(int index);

// Frames the camera hands out in turn. The first frame is made before
// Start() returns; the rest of the ring is encoded by a background thread.
class FrameSource {
 public:
  // `pictureDir` empty: generated pattern of `ringSize` frames; otherwise
  // every *.jpg / *.jpeg of the folder (name order, at most `ringSize`).
  FrameSource(std::string pictureDir, int ringSize);
  ~FrameSource();
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  bool Start(std::string* error);
  // The frames in ring order; while the ring is still being made, waits for
  // the next frame (a few milliseconds) rather than repeating one.
  FramePtr Next();
  size_t ReadyCount() const;

 private:
  FramePtr MakeFrame(size_t i, std::string* error);
  void Worker();

  std::string pictureDir_;
  int ringSize_;
  std::vector<std::string> pictures_;
  size_t total_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable added_;
  std::vector<FramePtr> frames_;
  bool complete_ = false;  // the worker has made every frame it can
  size_t next_ = 0;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace fotavi::emu
