// Machine description read from sysfs, and the user's configuration values.
#include <zun/config.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace zun {
namespace {

namespace fs = std::filesystem;

const fs::path cpuRoot = "/sys/devices/system/cpu";

std::string readWord(const fs::path& file) {
    std::ifstream in(file);
    std::string word;
    in >> word;
    return word;
}

std::int64_t readNumber(const fs::path& file, std::int64_t fallback) {
    const std::string word = readWord(file);
    if (word.empty() || !std::isdigit(static_cast<unsigned char>(word[0]))) return fallback;
    return std::stoll(word);
}

// sysfs writes sizes like "48K", "2048K" or "30M".
std::int64_t parseKiB(const std::string& text) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return 0;
    std::size_t digits = 0;
    const std::int64_t value = std::stoll(text, &digits);
    switch (digits < text.size() ? std::toupper(static_cast<unsigned char>(text[digits])) : 'B') {
        case 'K': return value;
        case 'M': return value << 10;
        case 'G': return value << 20;
        default: return value >> 10;
    }
}

// Counts the CPUs of a list such as "0-3,8,10-11".
int countCpuList(const std::string& list) {
    int cpus = 0;
    std::stringstream ranges(list);
    std::string range;
    while (std::getline(ranges, range, ',')) {
        if (range.empty()) continue;
        const std::size_t dash = range.find('-');
        const int first = std::stoi(range.substr(0, dash));
        const int last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
        cpus += last - first + 1;
    }
    return cpus;
}

bool holdsData(const fs::path& cacheIndex) {
    const std::string type = readWord(cacheIndex / "type");
    return type == "Data" || type == "Unified";
}

int clampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<int>::max()));
}

}  // namespace

int Configuration::get(Parameter parameter) const {
    const auto found = values_.find(parameter);
    return found == values_.end() ? 0 : found->second;
}

void Configuration::set(Parameter parameter, int value) { values_[parameter] = value; }

int detectCores() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0) return static_cast<int>(online);
    return std::max(1u, std::thread::hardware_concurrency());
}

int detectPackages() {
    std::set<std::int64_t> packages;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(cpuRoot, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 || !std::isdigit(static_cast<unsigned char>(name[3])))
            continue;
        const std::int64_t id = readNumber(entry.path() / "topology" / "physical_package_id", -1);
        if (id >= 0) packages.insert(id);
    }
    return packages.empty() ? 1 : static_cast<int>(packages.size());
}

CacheInfo detectDataCache(int level) {
    CacheInfo info;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(cpuRoot / "cpu0" / "cache", error)) {
        const fs::path& index = entry.path();
        if (index.filename().string().compare(0, 5, "index") != 0) continue;
        if (readNumber(index / "level", 0) != level || !holdsData(index)) continue;
        info.sizeKiB = clampToInt(parseKiB(readWord(index / "size")));
        info.lineBytes = clampToInt(readNumber(index / "coherency_line_size", 0));
        info.sharedByCpus = countCpuList(readWord(index / "shared_cpu_list"));
        break;
    }
    return info;
}

}  // namespace zun
