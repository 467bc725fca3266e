#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <filesystem>

#include "platform/Bundle.h"
#include "platform/Sha256.h"
#include "platform/SystemInfo.h"
#include "runtime/RuntimeValidator.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;
using testsupport::GraphicsBundle;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

// The machine name as the kernel reports it, independent of `uname -m`.
std::string kernelMachine() {
    utsname u{};
    ::uname(&u);
    return u.machine;
}

RuntimeManifest withConstraints(RuntimeManifest m, std::optional<std::string> minMacOS,
                                std::optional<std::vector<std::string>> cpus) {
    m.constraints = ManifestConstraints{std::move(minMacOS), std::move(cpus)};
    return m;
}

// Copies every staged DLL to where it belongs in `prefix`.
void deployAll(const GraphicsBundle& bundle, const std::string& prefix) {
    for (const auto& a : bundle.manifest().artifacts) {
        const std::string target = RuntimeValidator::deployedPath(prefix, a);
        fs::create_directories(fs::path(target).parent_path());
        fs::copy_file(bundle.fileOf(a), target, fs::copy_options::overwrite_existing);
    }
}

std::vector<std::string> paths(const std::vector<ArtifactEntry>& artifacts) {
    std::vector<std::string> out;
    for (const auto& a : artifacts) out.push_back(a.path);
    return out;
}

}  // namespace

TEST(RuntimeValidatorTest, TheBuiltBundleValidatesAndAdmitsThisMachine) {
    TestHome home;
    platform::Bundle::overrideResourcePath(FERROWICK_BUNDLE_DIR);
    auto manifest = RuntimeValidator::loadManifest();
    ASSERT_TRUE(manifest);
    std::vector<std::string> expected;
    for (const char* folder : {"mesa-x86_64/", "mesa-i686/"})
        for (const char* dll : Constants::mesaDLLs) expected.push_back(folder + std::string(dll));
    EXPECT_EQ(paths(manifest->artifacts), expected);
    EXPECT_EQ(RuntimeValidator::validateBundledDLLs(), std::nullopt);
    EXPECT_TRUE(RuntimeValidator::checkMacOSVersion().valid);
    EXPECT_TRUE(RuntimeValidator::checkSupportedCPU().valid);
}

TEST(RuntimeValidatorTest, LoadManifestReadsAfreshAndFailsSilently) {
    TestHome home;
    const std::string lock = home.bundle() + "/runtime.lock";
    EXPECT_FALSE(RuntimeValidator::loadManifest()) << "missing file";

    fs::create_directories(lock);
    EXPECT_FALSE(RuntimeValidator::loadManifest()) << "directory in place of the file";
    fs::remove(lock);

    writeFile(lock, R"({"schema_version": 1, "product_version": "a", "artifacts": []})");
    auto first = RuntimeValidator::loadManifest();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->product_version, "a");
    writeFile(lock, R"({"schema_version": 2, "product_version": "b", "artifacts": []})");
    auto second = RuntimeValidator::loadManifest();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->product_version, "b");

    writeFile(lock, "");
    EXPECT_FALSE(RuntimeValidator::loadManifest()) << "empty file";

    platform::Bundle::overrideResourcePath(home.root() + "/no such bundle");
    EXPECT_FALSE(RuntimeValidator::loadManifest());
}

TEST(RuntimeValidatorTest, SystemChecksFollowTheManifestConstraints) {
    TestHome home;
    const platform::OSVersion os = platform::SystemInfo::osVersion();
    const std::string machine = kernelMachine();
    const std::string version =
        std::to_string(os.major) + "." + std::to_string(os.minor) + "." + std::to_string(os.patch);
    RuntimeManifest base;
    base.product_version = "t";
    const std::string majorHere = std::to_string(os.major) + ".9";
    const std::string majorAbove = std::to_string(os.major + 1) + ".0";

    const struct {
        const char* name;
        std::optional<RuntimeManifest> manifest;
        bool macOSValid;
        bool cpuValid;
    } cases[] = {
        {"no manifest: defaults", std::nullopt, os.major >= 14, machine == "arm64"},
        {"no constraints", base, os.major >= 14, machine == "arm64"},
        {"this major, this machine", withConstraints(base, majorHere, std::vector<std::string>{"arm64", machine}), true,
         true},
        {"next major, other machines", withConstraints(base, majorAbove, std::vector<std::string>{"ppc", "sparc"}),
         false, false},
        {"empty list", withConstraints(base, "abc", std::vector<std::string>{}), os.major >= 14, false},
        {"case differs", withConstraints(base, "", std::vector<std::string>{"X" + machine}), os.major >= 14, false},
    };
    for (const auto& c : cases) {
        if (c.manifest) {
            writeFile(home.bundle() + "/runtime.lock", testsupport::encodeManifest(*c.manifest));
        } else {
            fs::remove(home.bundle() + "/runtime.lock");
        }
        const auto macOS = RuntimeValidator::checkMacOSVersion();
        EXPECT_EQ(macOS.valid, c.macOSValid) << c.name;
        EXPECT_EQ(macOS.version, version) << c.name;
        const auto cpu = RuntimeValidator::checkSupportedCPU();
        EXPECT_EQ(cpu.valid, c.cpuValid) << c.name;
        EXPECT_EQ(cpu.arch, machine) << c.name;
    }
}

TEST(RuntimeValidatorTest, DiskSpaceCreatesThePathAndMeasuresIt) {
    TestHome home;
    const std::string nested = home.supportDir() + "/deep/er";
    const fs::space_info space = fs::space(home.root());
    EXPECT_TRUE(RuntimeValidator::checkDiskSpace(nested, 0));
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(RuntimeValidator::checkDiskSpace(nested, static_cast<int64_t>(space.available >> 30) / 2));
    EXPECT_FALSE(RuntimeValidator::checkDiskSpace(nested, static_cast<int64_t>(space.available >> 30) + 1));
    EXPECT_EQ(RuntimeValidator::checkDiskSpace(home.supportDir()), (space.available >> 30) >= 2);

    // A path that runs through a regular file cannot be created or measured.
    writeFile(home.root() + "/plain", "x");
    EXPECT_FALSE(RuntimeValidator::checkDiskSpace(home.root() + "/plain/sub", 0));
}

TEST(RuntimeValidatorTest, Sha256MatchesTheContentOrGivesNothing) {
    TestHome home;
    const struct {
        std::string name;
        std::string contents;
    } files[] = {
        {"empty.dll", ""},
        {"with blank \xC3\xBC.dll", "binary\0\xff data"},
        {"back\\slash.dll", "shasum escapes this name"},
        {"line\nbreak.dll", "and this one"},
    };
    for (const auto& f : files) {
        const std::string path = home.root() + "/" + f.name;
        writeFile(path, f.contents);
        EXPECT_EQ(RuntimeValidator::sha256(path), platform::Sha256::hex(readFile(path))) << f.name;
    }
    EXPECT_EQ(RuntimeValidator::sha256(home.root() + "/missing.dll"), std::nullopt);
    EXPECT_EQ(RuntimeValidator::sha256(home.root()), std::nullopt) << "a directory";
}

TEST(RuntimeValidatorTest, BundleCheckReportsTheFirstFaultOnly) {
    TestHome home;
    GraphicsBundle bundle(home.bundle());
    const RuntimeManifest staged = bundle.manifest();
    const ArtifactEntry& third = staged.artifacts[2];
    const ArtifactEntry& last = staged.artifacts.back();

    struct Case {
        const char* name;
        std::function<void()> damage;
        std::optional<std::string> message;
    };
    const std::string corruptDigest = platform::Sha256::hex("corrupted");
    RuntimeManifest upper = staged;
    for (char& c : upper.artifacts[1].sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    RuntimeManifest empty = staged;
    empty.artifacts.clear();

    const Case cases[] = {
        {"intact", [] {}, std::nullopt},
        {"no manifest", [&] { fs::remove(home.bundle() + "/runtime.lock"); },
         "runtime.lock manifest missing from app bundle"},
        {"one missing", [&] { fs::remove(bundle.fileOf(last)); }, "Missing bundled DLL: " + last.path},
        {"one corrupted", [&] { writeFile(bundle.fileOf(third), "corrupted"); },
         "Bundled DLL corrupted: " + third.path + "\nExpected: " + third.sha256 + "\nGot: " + corruptDigest},
        {"upper-case digest", [&] { bundle.writeManifest(upper); },
         "Bundled DLL corrupted: " + upper.artifacts[1].path + "\nExpected: " + upper.artifacts[1].sha256 +
             "\nGot: " + staged.artifacts[1].sha256},
        {"directory in place of a DLL",
         [&] {
             fs::remove(bundle.fileOf(third));
             fs::create_directory(bundle.fileOf(third));
         },
         "Failed to compute checksum for: " + third.path},
        {"first of two faults wins",
         [&] {
             writeFile(bundle.fileOf(third), "corrupted");
             fs::remove(bundle.fileOf(last));
         },
         "Bundled DLL corrupted: " + third.path + "\nExpected: " + third.sha256 + "\nGot: " + corruptDigest},
        {"no artifacts", [&] { bundle.writeManifest(empty); }, std::nullopt},
    };
    for (const auto& c : cases) {
        fs::remove_all(home.bundle());
        fs::create_directories(home.bundle());
        GraphicsBundle restaged(home.bundle());
        c.damage();
        EXPECT_EQ(RuntimeValidator::validateBundledDLLs(), c.message) << c.name;
    }
}

TEST(RuntimeValidatorTest, StaleDeployedDLLsKeepsManifestOrder) {
    TestHome home;
    GraphicsBundle bundle(home.bundle());
    const auto& artifacts = bundle.manifest().artifacts;
    const std::string prefix = home.supportDir() + "/prefix";
    const std::vector<std::string> all = paths(artifacts);
    const std::vector<std::string> i686(all.begin() + 3, all.end());

    fs::create_directories(prefix);
    auto none = RuntimeValidator::staleDeployedDLLs(prefix);
    ASSERT_TRUE(none);
    EXPECT_EQ(paths(*none), all) << "nothing deployed";

    deployAll(bundle, prefix);
    auto fresh = RuntimeValidator::staleDeployedDLLs(prefix);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->empty());

    // Changed and missing copies are equally stale; order follows the manifest.
    writeFile(RuntimeValidator::deployedPath(prefix, artifacts[4]), "old build");
    fs::remove(RuntimeValidator::deployedPath(prefix, artifacts[1]));
    auto two = RuntimeValidator::staleDeployedDLLs(prefix);
    ASSERT_TRUE(two);
    EXPECT_EQ(paths(*two), (std::vector<std::string>{all[1], all[4]}));

    deployAll(bundle, prefix);
    fs::remove_all(prefix + Constants::syswow64);
    auto noWow = RuntimeValidator::staleDeployedDLLs(prefix);
    ASSERT_TRUE(noWow);
    EXPECT_EQ(paths(*noWow), i686) << "prefix without syswow64";

    deployAll(bundle, prefix);
    RuntimeManifest upper = bundle.manifest();
    for (char& c : upper.artifacts[0].sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bundle.writeManifest(upper);
    auto upperStale = RuntimeValidator::staleDeployedDLLs(prefix);
    ASSERT_TRUE(upperStale);
    EXPECT_EQ(paths(*upperStale), std::vector<std::string>{all[0]}) << "upper-case digest never matches";

    RuntimeManifest empty = bundle.manifest();
    empty.artifacts.clear();
    bundle.writeManifest(empty);
    auto nothingListed = RuntimeValidator::staleDeployedDLLs(prefix);
    ASSERT_TRUE(nothingListed);
    EXPECT_TRUE(nothingListed->empty());

    fs::remove(home.bundle() + "/runtime.lock");
    EXPECT_FALSE(RuntimeValidator::staleDeployedDLLs(prefix)) << "no manifest gives no answer";
}
