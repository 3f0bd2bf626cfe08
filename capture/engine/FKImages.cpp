// Video from images: a folder of pictures packed into one file that the push source plays.
#include "capture/engine/FK.h"

namespace kestrom::engine {

using M = TFKMethod;

bool TFK::CreateVideoFromImagesFile() {
  if (writingImagesFile_) return false;
  if (!CheckPreconditions(M::CreateVideoFromImagesFile)) return false;
  return false;  // the images file comes with the video-from-images source
}

}  // namespace kestrom::engine
