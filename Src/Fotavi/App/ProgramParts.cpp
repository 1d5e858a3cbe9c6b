#include "App/ProgramParts.h"

#include "Card/Ui/CardTools.h"
#include "Convert/Ui/ConvertTools.h"
#include "Image/ImageFrame.h"
#include "Live/AnimeFrame.h"
#include "SlideShow/Ui/SlideShowTools.h"

void RegisterProgramParts() {
  RegisterLiveParts();   // "Anime": the live monitor
  RegisterImageParts();  // "Image": still pictures; the draw palette
  RegisterCardParts();   // the SD viewer and the file transfer
  RegisterConvertParts();    // "File Conversion"
  RegisterSlideShowParts();  // "Slide Show Settings"
}
