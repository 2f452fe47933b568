// Choosing each chip's image to burn, and writing the images.
#include "core/repair/burn_plan.h"

#include <cerrno>
#include <cstring>

#include "core/checksum/crc32.h"
#include "core/identify/identify.h"
#include "core/repair/mend.h"
#include "core/repair/zip_writer.h"
#include "core/sys/file_layer.h"

namespace chipsight::repair {

std::vector<BurnChip> planBurn(const board::Catalogue& catalogue,
                               std::span<const std::span<const std::uint8_t>> bytes,
                               const board::BoardAnswer& answer,
                               const std::optional<EpromPart>& part, const RomSource& source) {
    using board::ChipState;
    std::vector<BurnChip> chips;
    for (const board::ChipLine& line : answer.chips) {
        if (line.state != ChipState::Missing && line.state != ChipState::BadDumpKnown &&
            line.state != ChipState::BitsOff)
            continue;
        const board::CatalogueRom rom = catalogue.rom(line.rom);
        BurnChip& chip = chips.emplace_back();
        chip.rom = std::string(rom.name);
        if (!rom.dumpable()) {
            chip.why = "no good dump known";
            continue;
        }
        std::optional<std::vector<std::uint8_t>> image = mendedRom(line, bytes, rom);
        if (image)
            chip.from = "its dump with " + std::to_string(line.near->bits.size()) +
                        (line.near->bits.size() == 1 ? " bit" : " bits") + " put back";
        if (!image && source) {
            image = source(rom);
            if (image && !isTheRom(*image, rom)) image.reset();
            if (image) chip.from = "the collection";
        }
        if (!image) {
            chip.why = source ? "not in the collection" : "no collection given to take it from";
            continue;
        }
        if (!safeComponent(chip.rom)) {
            chip.why = "a name that cannot stand as a file name";
            continue;
        }
        chip.images = fitToPart(chip.rom, *image, rom.dataWidth, rom.bigEndian, part, chip.why);
    }
    return chips;
}

BurnWritten writeBurn(const std::string& folder, const std::string& setName,
                      const std::vector<BurnChip>& chips, bool replace) {
    BurnWritten out;
    if (!safeComponent(setName))
        return out.failure = "The set " + reportName(setName) + " cannot stand as a folder's name",
               out;
    const std::string dir = folder + "/" + setName;
    std::vector<std::string> left;
    for (const BurnChip& chip : chips) {
        if (chip.images.empty()) {
            left.push_back("Not burnt: " + chip.rom + " (" + chip.why + ")");
            out.left.push_back({chip.rom, chip.why});
            continue;
        }
        if (!makeDirectories(dir)) return out.failure = "Cannot make the folder " + dir, out;
        for (const BurnImage& image : chip.images) {
            const std::string path = dir + "/" + image.name;
            int error = 0;
            if (!replaceFileWith(
                    path, [&](File& file) { file.write(image.bytes.data(), image.bytes.size()); },
                    replace, &error))
                return out.failure = "Cannot write " + path + ": " +
                                     (error == EEXIST ? kFileExists : std::strerror(error)),
                       out;
            const BurnWritten::Image& done = out.images.emplace_back(BurnWritten::Image{
                path, chip.from, Crc32(0, image.bytes.data(), std::uint32_t(image.bytes.size())),
                byteSums(image.bytes)});
            out.lines.push_back("Image to burn, from " + chip.from + ": " +
                                burnLine(path, done.crc, done.sums));
        }
    }
    out.lines.insert(out.lines.end(), left.begin(), left.end());
    return out;
}

}  // namespace chipsight::repair
