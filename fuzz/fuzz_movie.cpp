// The movie player's source: the bytes of a movie file a user picks to play,
// opened by name, decoded picture by picture, sought and decoded again, as
// the player does from its presenter thread.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "Common/Dib.h"
#include "FotaviMov/Engine/AviFileOperation.h"
#include "FotaviMov/Engine/MovieSource.h"
#include "FotaviMov/Engine/WmvFileOperation.h"
#include "FuzzFile.h"

namespace {

// Pictures decoded before and after the seek: enough to reach a second key
// picture of the seeds, few enough to keep one input short.
constexpr int kPicturesRead = 8;

// As the player's presenter does: each picture into a record of its own,
// a picture too big to hold (std::bad_alloc) aborting the movie.
bool ReadSome(IMovieSource* source) {
  for (int i = 0; i < kPicturesRead; ++i) {
    CVideoFrame frame;
    try {
      if (source->ReadFrame(&frame) != SOURCE_FRAME) return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  return true;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  if (!in) std::exit(1);
  return bytes.str();
}

CBitmap24 Grey(LONG w, LONG h, int number) {
  CBitmap24 dib = CreateBitmap24(w, h);
  dib.fill(QColor(number * 8, number * 8, number * 8));
  return dib;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // FFmpeg's notes on every broken input would be most of the run's time.
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  fotavi::fuzz::InputFile file(data, size);
  std::unique_ptr<IMovieSource> source = CreateFileMovieSource();
  CMovieInfo info;
  if (source->Open(file.Path(), &info) != MOVIE_S_OK) return 0;
  // The player shows the first picture from position 0, then plays on,
  // and a drag seeks anywhere.
  source->Seek(0);
  if (!ReadSome(source.get())) return 0;
  source->Seek(info.duration / 2);
  if (!ReadSome(source.get())) return 0;
  source->Seek(0);
  ReadSome(source.get());
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  Seeds seeds;
  const std::string avi = RunFolder() + "/seed.avi";
  {
    CAviFileOperation writer;
    if (writer.Initialize(avi, 10) != 0) std::exit(1);
    for (int i = 0; i < 4; ++i) writer.AddFrame(Grey(16, 16, i * 8));
    if (!writer.Close()) std::exit(1);
  }
  seeds.push_back(ReadWhole(avi));
  const std::string wmv = RunFolder() + "/seed.wmv";
  {
    CWmvFileOperation writer;
    if (writer.Initialize(10, 100, wmv, std::string(FOTAVI_PROFILE_DIR) + "/256-192.prx") != 1) std::exit(1);
    for (int i = 0; i < 3; ++i) writer.AddFrame(Grey(256, 192, i * 8));
    if (!writer.EndWriting()) std::exit(1);
  }
  seeds.push_back(ReadWhole(wmv));
  return seeds;  // the run's folder, and the two movies in it, go at exit
}
