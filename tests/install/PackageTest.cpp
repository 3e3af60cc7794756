// The Debian packages made from the same tree (cpack, as scripts/package
// runs it): four of them, each unpacking to its part of the installed layout
// under /usr, with the dependencies, library control files and search paths
// Debian expects; unpacked together they run; lintian finds no error and only
// the warnings docs/packaging.md explains.

#include "InstallTest.h"
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

using namespace installtest;

// The packages are made by the test install_packages into PACKAGES_DIR.
class Packages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_all = std::make_unique<ScratchDir>();
        for (const auto& [component, package] : PackageOf())
            Capture("dpkg-deb -x " + Quote(Deb(package)) + " " + Quote(s_all->path()));
    }
    static void TearDownTestSuite() { s_all.reset(); }

    static std::string Deb(const std::string& package)
    {
        const std::string prefix = package + "_" PROJECT_VERSION_TEXT "_";
        for (const std::string& name : DirectoryEntries(PACKAGES_DIR, ".deb"))
            if (name.rfind(prefix, 0) == 0)
                return PACKAGES_DIR "/" + name;
        return PACKAGES_DIR "/" + prefix + "missing.deb";
    }
    static std::string Field(const std::string& package, const std::string& field)
    {
        std::string value = Capture("dpkg-deb -f " + Quote(Deb(package)) + " " + field);
        while (!value.empty() && value.back() == '\n')
            value.pop_back();
        return value;
    }

    // The four packages unpacked into one tree, as installing them lays them out.
    static std::unique_ptr<ScratchDir> s_all;
};

std::unique_ptr<ScratchDir> Packages::s_all;

TEST_F(Packages, AreTheFourOfThisVersion)
{
    std::set<std::string> expected;
    const std::string arch = Capture("dpkg --print-architecture");
    for (const auto& [component, package] : PackageOf())
        expected.insert(package + "_" PROJECT_VERSION_TEXT "_" + arch.substr(0, arch.find('\n')) + ".deb");
    EXPECT_EQ(DirectoryEntries(PACKAGES_DIR, ".deb"), expected);
}

TEST_F(Packages, EachHoldsItsPartOfTheTreeUnderUsr)
{
    for (const auto& [component, files] : ExpectedLayout()) {
        const std::string package = PackageOf().at(component);
        ScratchDir root;
        int status = -1;
        const std::string log = Capture("dpkg-deb -x " + Quote(Deb(package)) + " " + Quote(root.path()), &status);
        ASSERT_EQ(status, 0) << log;
        std::set<std::string> expected;
        for (const std::string& file : files)
            expected.insert("usr/" + file);
        EXPECT_EQ(FilesUnder(root.path()), expected) << package;
    }
}

TEST_F(Packages, DeclareTheirDependenciesAndSections)
{
    const std::string exact = " (= " PROJECT_VERSION_TEXT ")";
    struct Case {
        std::string package, section;
        std::vector<std::string> depends;  // each must be named
        std::vector<std::string> never;    // none may be
    };
    const Case cases[] = {
        {"tarnflash", "electronics", {"libkvbl1" + exact, "libqt5core5a", "libstdc++6", "libc6"}, {"libusb"}},
        {"libkvbl1", "libs", {"libusb-1.0-0", "libstdc++6", "libc6"}, {"libkvbl", "libqt5", "tarnflash"}},
        {"libkvbl-dev", "libdevel", {"libkvbl1" + exact}, {"tarnflash"}},
        {"kv32sim", "electronics", {"tarnflash" + exact, "libstdc++6"}, {"libqt5", "libusb"}},
    };
    for (const Case& c : cases) {
        const std::string depends = Field(c.package, "Depends");
        for (const std::string& wanted : c.depends)
            EXPECT_NE(depends.find(wanted), std::string::npos) << c.package << " Depends: " << depends;
        for (const std::string& unwanted : c.never)
            EXPECT_EQ(depends.find(unwanted), std::string::npos) << c.package << " Depends: " << depends;
        EXPECT_EQ(Field(c.package, "Section"), c.section) << c.package;
        EXPECT_EQ(Field(c.package, "Version"), PROJECT_VERSION_TEXT) << c.package;
    }
}

// Programs built against libkvbl1 depend on it through its shlibs file; the
// dynamic linker learns of its libraries through the ldconfig trigger, and no
// maintainer script is left to do it again.
TEST_F(Packages, LibraryPackageRegistersItsLibraries)
{
    ScratchDir control;
    int status = -1;
    const std::string log =
        Capture("dpkg-deb -e " + Quote(Deb("libkvbl1")) + " " + Quote(control.path()), &status);
    ASSERT_EQ(status, 0) << log;
    std::set<std::string> shlibs;
    for (const std::string& line : Lines(ReadText(control / "shlibs")))
        shlibs.insert(line);
    std::set<std::string> expected;
    for (const std::string& name : LibraryNames())
        expected.insert("lib" + name + " " LIBRARY_SOVERSION " libkvbl1 (>= " PROJECT_VERSION_TEXT ")");
    EXPECT_EQ(shlibs, expected);
    EXPECT_EQ(ReadText(control / "triggers"), "activate-noawait ldconfig\n");
    EXPECT_EQ(DirectoryEntries(control.path()), (std::set<std::string>{"control", "md5sums", "shlibs", "triggers"}));
}

// Unpacked together, as installing them does, the programs run and find the
// packaged libraries where the dynamic linker looks (no search path of their
// own), and the pkg-config files point into the same tree.
TEST_F(Packages, UnpackedTogetherTheProgramsRun)
{
    const std::string usr = *s_all / "usr";
    EXPECT_TRUE(SearchPath(usr + "/bin/tarnflash").empty());
    const std::string libraries = "LD_LIBRARY_PATH=" + Quote(usr + "/" INSTALL_LIBDIR) + " ";
    int status = -1;
    const std::string help = Capture(libraries + Quote(usr + "/bin/tarnflash") + " -?", &status);
    EXPECT_EQ(status, 0) << help;
    EXPECT_NE(help.find(" Usage : "), std::string::npos) << help;
    const std::string usage = Capture(Quote(usr + "/bin/kv32sim") + " --help", &status);
    EXPECT_NE(usage.find("usage: kv32sim"), std::string::npos) << usage;

    const std::string flags = Capture("PKG_CONFIG_SYSROOT_DIR=" + Quote(s_all->path()) + " PKG_CONFIG_LIBDIR=" +
                                          Quote(usr + "/" INSTALL_LIBDIR "/pkgconfig") +
                                          " " PKG_CONFIG_COMMAND " --cflags --libs kvbllib",
                                      &status);
    EXPECT_EQ(status, 0) << flags;
    EXPECT_NE(flags.find("-I" + usr + "/include"), std::string::npos) << flags;
    EXPECT_NE(flags.find("-lKVBLLIB"), std::string::npos) << flags;
}

// Errors fail; the warnings are the ones docs/packaging.md lists with their
// reasons (the library package carries five libraries under one name).
TEST_F(Packages, LintianFindsNoErrorAndOnlyTheExplainedWarnings)
{
    int status = -1;
    Capture("command -v lintian", &status);
    if (status != 0)
        GTEST_SKIP() << "lintian is not installed (scripts/package installs it)";
    std::string command = "lintian --tag-display-limit 0";
    for (const auto& [component, package] : PackageOf())
        command += " " + Quote(Deb(package));
    const std::string report = Capture(command, &status);
    std::set<std::string> found;  // "W: package: tag"
    for (const std::string& line : Lines(report)) {
        if (line.size() < 3 || (line.rfind("E: ", 0) != 0 && line.rfind("W: ", 0) != 0))
            continue;
        std::istringstream fields(line);
        std::string level, package, tag;
        fields >> level >> package >> tag;
        found.insert(level + " " + package + " " + tag);
    }
    EXPECT_EQ(found, (std::set<std::string>{"W: libkvbl1: package-name-doesnt-match-sonames"})) << report;
}

}  // namespace
