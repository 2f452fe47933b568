// Reading an image whole: one buffer of its length, filled by the file layer.
#include "core/input/whole_image.h"

#include <new>

#include "core/sys/file_layer.h"

namespace chipsight::doctor {

WholeImage readWholeImage(const std::string& path) {
    WholeImage image;
    auto file = File::open(path, File::Mode::Read);
    if (!file) return image;
    const std::uint64_t length = file->length();
    if ((image.status = lengthStatus(length)) != ImageStatus::Read) return image;
    try {
        image.bytes.resize(std::size_t(length));
    } catch (const std::bad_alloc&) {
        image.status = ImageStatus::OutOfMemory;
        return image;
    }
    const bool whole = file->read(image.bytes.data(), image.bytes.size()) == image.bytes.size();
    image.status =
        whole && file->unchangedSinceOpen() ? ImageStatus::Read : ImageStatus::ReadFailed;
    if (image.status != ImageStatus::Read) image.bytes = {};
    return image;
}

}  // namespace chipsight::doctor
