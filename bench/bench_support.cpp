// Temporary files, database files and memory figures for the benchmarks.
#include "bench/bench_support.h"

#include <sys/wait.h>

#include <spawn.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#include "core/sys/file_layer.h"

namespace bench {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "chipsight-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> randomBytes(std::size_t size, std::uint64_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937_64 rng(seed);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t word = rng();
        for (int b = 0; b < 8; ++b) bytes[i + std::size_t(b)] = std::uint8_t(word >> (8 * b));
    }
    for (; i < size; ++i) bytes[i] = std::uint8_t(rng());
    return bytes;
}

namespace {

void putU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// Printable text of `length` characters.
void fillText(std::uint8_t* p, std::size_t length, std::mt19937_64& rng) {
    for (std::size_t i = 0; i < length; ++i) p[i] = std::uint8_t(' ' + rng() % 95);
}

}  // namespace

void writeDatabase(const std::string& directory, std::size_t chips, std::size_t games) {
    std::mt19937_64 rng(chips * 31 + games);
    std::vector<std::uint8_t> roms(chips * chipsight::RomTableRecord::kSize, 0);
    for (std::size_t i = 0; i < chips; ++i) {
        std::uint8_t* r = &roms[i * chipsight::RomTableRecord::kSize];
        const auto game = std::uint16_t(games == 0 ? 0 : rng() % games);
        r[0] = std::uint8_t(game);
        r[1] = std::uint8_t(game >> 8);
        fillText(r + 2, 1 + rng() % chipsight::RomTableRecord::kNameWidth, rng);
        putU32(r + 20, std::uint32_t(rng()));
        putU32(r + 24, 256u << (rng() % 15));
    }
    std::vector<std::uint8_t> gam(games * chipsight::GameRecord::kSize, 0);
    for (std::size_t i = 0; i < games; ++i)
        fillText(&gam[i * chipsight::GameRecord::kSize], 1 + rng() % chipsight::GameRecord::kSize,
                 rng);
    writeFile(directory + "/" + chipsight::kRomTableFile, roms);
    writeFile(directory + "/" + chipsight::kGameTableFile, gam);
    settle();
}

void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

void useCacheOf(const std::string& row) {
    static TempDir caches;
    ::setenv("XDG_CACHE_HOME", caches.file(row).c_str(), 1);
}

void writeCustomDatabase(const std::string& directory, std::size_t records) {
    std::mt19937_64 rng(records * 37);
    constexpr std::size_t kSize = chipsight::RomEntry::kSize;
    std::vector<std::uint8_t> bytes(records * kSize, 0);
    for (std::size_t i = 0; i < records; ++i) {
        std::uint8_t* r = &bytes[i * kSize];
        putU32(r, std::uint32_t(rng()));
        putU32(r + 4, 256u << (rng() % 15));
        fillText(r + 8, 1 + rng() % chipsight::RomEntry::kNameWidth, rng);
        fillText(r + 26, 1 + rng() % chipsight::RomEntry::kDescriptionWidth, rng);
    }
    writeFile(directory + "/" + chipsight::kCustomFile, bytes);
    settle();
}

QuietCore::QuietCore(const std::string& directory) : core(frontEnd, directory + "/chipsight", {}) {
    core.useDatabaseDirectory(directory);
}

namespace {

// A "Name:   N kB" line of /proc/self/status, in bytes.
std::size_t statusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name + ":", 0) == 0)
            return std::size_t(std::strtoull(line.c_str() + name.size() + 1, nullptr, 10)) * 1024;
    }
    return 0;
}

}  // namespace

pid_t startProgram(const std::vector<std::string>& arguments, const std::string& output) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed != 0 ? -1 : pid;
}

int waitProgram(pid_t pid) {
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int runProgram(const std::vector<std::string>& arguments, const std::string& output,
               std::size_t* peakBytes) {
    // A peak is taken through chipsight_run_peak, next to this executable.
    static TempDir peakDir;
    const std::string peakFile = peakDir.file("peak");
    std::vector<std::string> run;
    if (peakBytes) {
        const auto bin = std::filesystem::path(chipsight::executablePath()).parent_path();
        run = {(bin / "chipsight_run_peak").string(), peakFile};
    }
    run.insert(run.end(), arguments.begin(), arguments.end());
    const int status = waitProgram(startProgram(run, output));
    if (status >= 0 && peakBytes) {
        std::ifstream in(peakFile);
        if (!(in >> *peakBytes)) return -1;
    }
    return status;
}

std::size_t residentBytes() { return statusBytes("VmRSS"); }
std::size_t peakResidentBytes() { return statusBytes("VmHWM"); }

bool resetPeak() {
    // Writing 5 to clear_refs sets the peak resident size back to the current one.
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return ok;
}

}  // namespace bench
