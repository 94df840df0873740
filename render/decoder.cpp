// Placeholder until the decoders land.
#include "render/decoder.h"

DecodeStatus decodePicture(const std::filesystem::path&, Image& out) {
    out.destroy();
    return DecodeStatus::Failed;
}
