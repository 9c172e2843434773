#include "Support/TempFolder.h"

#include "Common/Platform.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace orv::test {

TTempFolder::TTempFolder() {
    static std::atomic<unsigned> Counter{0};
    std::random_device Seed;
    std::mt19937_64 Random(Seed() ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path Base = fs::temp_directory_path();
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        const fs::path Candidate =
            Base / ("orv-test-" + std::to_string(Random() % 1000000000ull) + "-" + std::to_string(Counter++));
        std::error_code Ec;
        if (fs::create_directory(Candidate, Ec)) {
            Path_ = fs::absolute(Candidate).make_preferred().string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + Base.string());
}

TTempFolder::~TTempFolder() {
    std::error_code Ec;
    fs::remove_all(Path_, Ec);
}

std::string TTempFolder::PathOf(const std::string& Relative) const {
    std::string Result = Path_;
    if (Relative.empty()) return Result;
    Result += TPathRules::Delimiter;
    for (char C : Relative) Result += (C == '/') ? TPathRules::Delimiter : C;
    return Result;
}

std::string TTempFolder::WriteFile(const std::string& Relative, const std::string& Content) const {
    const std::string Target = PathOf(Relative);
    fs::create_directories(fs::path(Target).parent_path());
    std::ofstream Out(Target, std::ios::binary | std::ios::trunc);
    Out << Content;
    if (!Out) throw std::runtime_error("cannot write " + Target);
    return Target;
}

std::string TTempFolder::MakeFolder(const std::string& Relative) const {
    const std::string Target = PathOf(Relative);
    fs::create_directories(Target);
    return Target;
}

std::string TTempFolder::CopyFile(const std::string& Source, const std::string& Relative) const {
    const std::string Target = PathOf(Relative);
    fs::create_directories(fs::path(Target).parent_path());
    fs::copy_file(Source, Target, fs::copy_options::overwrite_existing);
    return Target;
}

}  // namespace orv::test
