#include "InlineFrames.h"

void runInlineFrames(FrameParts& parts, const std::function<bool()>& between) {
  do {
    parts.step();
    parts.prepare();
    parts.present(true);
  } while (between());
}
