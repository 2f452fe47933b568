// Custom entries: what was appended loads back byte for byte, and the file stays on its grid
// whatever it held before.
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "core/session/session.h"
#include "fuzz/fuzz_support.h"

using namespace chipsight;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Input in(data, size);
    const auto before = in.take(in.byte() * 3u);
    const std::string checksum = in.text(in.byte() % 12), length = in.text(in.byte() % 24);
    const std::string name = in.text(in.byte() % 24), description = in.text(in.byte() % 90);

    const std::string& dir = fuzzing::workDirectory();
    const std::string path = dir + "/Chipsight.dat";
    std::remove(path.c_str());
    if (!before.empty())
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(before.data()), std::streamsize(before.size()));

    fuzzing::QuietFrontEnd ui;
    Session core(ui, dir + "/chipsight", {});
    core.loadDatabases();
    const bool added = core.appendCustomEntry(checksum, length, name, description);

    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (added != (exists && std::size_t(st.st_size) == before.size() / 108 * 108 + 108))
        std::abort();
    if (!added) return 0;
    fuzzing::QuietFrontEnd again;
    Session reloaded(again, dir + "/chipsight", {});
    reloaded.loadDatabases();
    if (reloaded.entries().size() != before.size() / 108 + 1 || !again.boxes.empty()) std::abort();
    if (!(reloaded.entries()[reloaded.entries().size() - 1] ==
          core.entries()[core.entries().size() - 1]))
        std::abort();
    for (std::size_t i = 0; i + 1 < reloaded.entries().size(); ++i) {
        const auto bytes = reloaded.entries()[i].encode();
        if (std::memcmp(bytes.data(), before.data() + i * 108, 108) != 0) std::abort();
    }
    return 0;
}
