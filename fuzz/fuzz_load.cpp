// Loading: the three database files made of the fuzzer's bytes.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "core/session/session.h"
#include "fuzz/fuzz_support.h"

using namespace chipsight;

namespace {
void put(const std::string& path, const std::vector<std::uint8_t>& bytes, bool present) {
    std::remove(path.c_str());
    if (!present) return;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Input in(data, size);
    const std::uint8_t present = in.byte();
    const auto roms = in.take(in.u16());
    const auto games = in.take(in.u16());
    const auto custom = in.rest();
    const std::string& dir = fuzzing::workDirectory();
    put(dir + "/CHIPLORE.ROM", roms, present & 1);
    put(dir + "/CHIPLORE.GAM", games, present & 2);
    put(dir + "/Chipsight.dat", custom, present & 4);

    fuzzing::QuietFrontEnd ui;
    Session core(ui, dir + "/chipsight", {});
    core.loadDatabases();

    const std::size_t customCount = (present & 4) ? custom.size() / 108 : 0;
    const bool chips = (present & 1) && (present & 2);
    const std::size_t romCount = chips ? roms.size() / 28 : 0;
    if (core.entries().size() != customCount + romCount) std::abort();
    if (core.entryCount() != std::int32_t(customCount + romCount)) std::abort();
    if (!ui.boxes.empty() && !(present & 1 && !(present & 2)))
        std::abort();  // only a missing game table speaks
    for (std::size_t i = 0; i < customCount; ++i) {
        const auto bytes = core.entries()[i].encode();
        if (std::memcmp(bytes.data(), custom.data() + i * 108, 108) != 0) std::abort();
    }
    for (std::size_t i = 0; i < romCount; ++i) {
        const RomEntry& e = core.entries()[customCount + i];
        const std::uint8_t* r = roms.data() + i * 28;
        const auto index = std::int16_t(r[0] | (r[1] << 8));
        const std::string_view expected =
            index >= 0 && std::size_t(index) < games.size() / 80
                ? fieldText(std::span(games).subspan(std::size_t(index) * 80, 80))
                : std::string_view();
        if (e.descriptionText() != expected) std::abort();
        if (e.nameText() != fieldText(std::span(r + 2, 18))) std::abort();
    }
    return 0;
}
