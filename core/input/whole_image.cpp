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
    if ((image.status = lengthStatus(length)) == ImageStatus::TooLarge) return image;
    // The bytes identified are those after a known header, as readImageFile takes them.
    std::uint32_t skip = 0;
    if (image.status == ImageStatus::NotPowerOfTwo) {
        std::uint8_t head[kLongestHeader];
        const KnownHeader* header = knownHeaderOf({head, file->read(head, sizeof head)}, length);
        if (!header) return image;
        skip = header->bytes;
        try {
            file->seek(skip);
        } catch (const FileError&) {
            image.status = ImageStatus::ReadFailed;
            return image;
        }
    }
    try {
        image.bytes.resize(std::size_t(length - skip));
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
