// The one-way dependencies of the tree, checked on every #include of every
// source file and on every library's link list against cmake/layers.txt, and
// on the symbols of the built driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSource = TL_SOURCE_DIR;
const fs::path kLinks = TL_LINKS_DIR;
const fs::path kQtIncludes = TL_QT_INCLUDE_DIR;

struct Layer
{
    std::string name;
    std::string target;              // "-": no library
    std::vector<std::string> paths;  // folders or files, relative to the source root
    std::set<std::string> uses;      // layers or single headers
    std::set<std::string> ext;       // external libraries
};

struct Table
{
    std::vector<Layer> layers;
    std::vector<std::string> errors;

    Layer *find(const std::string &name)
    {
        for (Layer &l : layers)
            if (l.name == name)
                return &l;
        return nullptr;
    }

    // The layer a file belongs to: the longest folder or file that holds it.
    const Layer *owner(const std::string &file) const
    {
        const Layer *best = nullptr;
        size_t bestLen = 0;
        for (const Layer &l : layers)
            for (const std::string &p : l.paths) {
                const bool holds = file == p || (file.size() > p.size() && file.compare(0, p.size(), p) == 0
                                                  && file[p.size()] == '/');
                if (holds && p.size() > bestLen) {
                    best = &l;
                    bestLen = p.size();
                }
            }
        return best;
    }

    const Layer *byTarget(const std::string &target) const
    {
        for (const Layer &l : layers)
            if (l.target == target)
                return &l;
        return nullptr;
    }
};

Table readTable(const fs::path &file)
{
    Table t;
    std::ifstream in(file);
    if (!in) {
        t.errors.push_back("cannot read " + file.string());
        return t;
    }
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        std::istringstream words(line);
        std::string kind, name;
        if (!(words >> kind) || kind[0] == '#')
            continue;
        const std::string where = file.string() + ":" + std::to_string(n);
        if (!(words >> name)) {
            t.errors.push_back(where + ": no layer name");
            continue;
        }
        std::vector<std::string> rest;
        for (std::string w; words >> w;)
            if (w != "-" || (kind == "layer" && rest.empty()))   // "-": no target, or nothing
                rest.push_back(w);
        if (kind == "layer") {
            if (rest.empty()) {
                t.errors.push_back(where + ": a layer needs a target and its files");
                continue;
            }
            Layer l;
            l.name = name;
            l.target = rest[0];
            l.paths.assign(rest.begin() + 1, rest.end());
            t.layers.push_back(l);
        } else if (Layer *l = t.find(name)) {
            if (kind == "use")
                l->uses.insert(rest.begin(), rest.end());
            else if (kind == "ext")
                l->ext.insert(rest.begin(), rest.end());
            else
                t.errors.push_back(where + ": unknown line kind " + kind);
        } else {
            t.errors.push_back(where + ": " + kind + " of an unknown layer " + name);
        }
    }
    return t;
}

// The external library behind an angle-bracket include, or "" for the
// standard library and the operating system.
std::string externalOf(const std::string &header)
{
    if (header == "libusb.h" || header.rfind("libusb-1.0/", 0) == 0)
        return "libusb";
    if (header.rfind("libevdev", 0) == 0)
        return "libevdev";
    if (header.rfind("X11/ICE/", 0) == 0)
        return "PkgConfig::ICE";
    if (header.rfind("X11/", 0) == 0)
        return "xtst";
    if (header.rfind("xcb/", 0) == 0)
        return "xcb";
    if (header.rfind("apriltag/", 0) == 0)
        return "PkgConfig::APRILTAG";
    if (header.rfind("opencv2/", 0) == 0) {
        std::string module = header.substr(8);
        module = module.substr(0, module.find_first_of("/."));
        return "opencv_" + module;
    }
    if (header.size() > 1 && header[0] == 'Q') {
        // <QtConcurrent/QtConcurrentRun> names its module; <QDialog> is found in
        // the module folder that holds it.
        const size_t slash = header.find('/');
        if (slash != std::string::npos)
            return "Qt5::" + header.substr(2, slash - 2);
        for (const char *module : {"QtCore", "QtGui", "QtWidgets", "QtDBus", "QtConcurrent", "QtTest", "QtNetwork",
                                   "QtX11Extras"})
            if (fs::exists(kQtIncludes / module / header))
                return std::string("Qt5::") + (module + 2);
        return "Qt5::?" + header;
    }
    return "";
}

// A link item as the table names it.
std::string linkName(const std::string &item)
{
    if (item == "PkgConfig::LIBUSB")
        return "libusb";
    if (item == "PkgConfig::LIBEVDEV")
        return "libevdev";
    if (item == "PkgConfig::XTST")
        return "xtst";
    if (item == "PkgConfig::XCB")
        return "xcb";
    return item;
}

std::vector<fs::path> sourceFiles(const Table &t)
{
    std::set<fs::path> files;
    for (const Layer &l : t.layers)
        for (const std::string &p : l.paths) {
            const fs::path root = kSource / p;
            if (fs::is_regular_file(root)) {
                files.insert(root);
                continue;
            }
            if (!fs::is_directory(root))
                continue;
            for (const auto &e : fs::recursive_directory_iterator(root)) {
                const std::string ext = e.path().extension().string();
                if (e.is_regular_file() && (ext == ".cpp" || ext == ".h"))
                    files.insert(e.path());
            }
        }
    return {files.begin(), files.end()};
}

bool allowedInclude(const Table &t, const Layer &from, const std::string &header)
{
    if (from.uses.count(header))
        return true;
    const Layer *to = t.owner(header);
    if (!to)
        return false;
    return to == &from || from.uses.count(to->name);
}

// Every edge the table does not allow, as "file:line: what".
std::vector<std::string> includeViolations(const Table &t)
{
    static const std::regex include(R"(^\s*#\s*include\s*([<"])([^">]+)[">])");
    const std::set<std::string> roots = [&] {
        std::set<std::string> r;
        for (const Layer &l : t.layers)
            for (const std::string &p : l.paths)
                r.insert(p.substr(0, p.find('/')));
        return r;
    }();
    std::vector<std::string> out;
    for (const fs::path &file : sourceFiles(t)) {
        const std::string rel = fs::relative(file, kSource).generic_string();
        const Layer *from = t.owner(rel);
        if (!from)
            continue;
        std::ifstream in(file);
        std::string line;
        int n = 0;
        while (std::getline(in, line)) {
            ++n;
            std::smatch m;
            if (!std::regex_search(line, m, include))
                continue;
            const std::string header = m[2];
            const std::string where = rel + ":" + std::to_string(n) + ": ";
            if (m[1] == "\"") {
                const std::string root = header.substr(0, header.find('/'));
                if (header.find('/') == std::string::npos || !roots.count(root)) {
                    // Generated headers (ui_*.h) are the only ones not written from the root.
                    if (header.rfind("ui_", 0) != 0)
                        out.push_back(where + "\"" + header + "\" is not written from the source root");
                    continue;
                }
                if (!allowedInclude(t, *from, header)) {
                    const Layer *to = t.owner(header);
                    out.push_back(where + "layer " + from->name + " may not include " + header + " (layer "
                                  + (to ? to->name : std::string("?")) + ")");
                }
            } else {
                const std::string ext = externalOf(header);
                if (!ext.empty() && !from->ext.count(ext))
                    out.push_back(where + "layer " + from->name + " may not use " + ext + " (<" + header + ">)");
            }
        }
    }
    return out;
}

std::vector<std::string> linkViolations(const Table &t)
{
    std::vector<std::string> out;
    for (const Layer &l : t.layers) {
        if (l.target == "-")
            continue;
        const fs::path file = kLinks / (l.target + ".txt");
        std::ifstream in(file);
        if (!in) {
            out.push_back(file.string() + ": no link list for " + l.target);
            continue;
        }
        std::string item;
        int n = 0;
        while (std::getline(in, item)) {
            ++n;
            if (item.empty())
                continue;
            const std::string where = file.string() + ":" + std::to_string(n) + ": ";
            if (const Layer *to = t.byTarget(item)) {
                // A layer may link another one it may include, even through a single header.
                bool ok = to == &l || l.uses.count(to->name);
                for (const std::string &u : l.uses)
                    ok = ok || t.owner(u) == to;
                if (!ok)
                    out.push_back(where + l.target + " may not link " + item);
            } else if (!l.ext.count(linkName(item))) {
                out.push_back(where + l.target + " may not link " + item);
            }
        }
    }
    return out;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += l + "\n";
    return s;
}

Table table()
{
    return readTable(kSource / "cmake" / "layers.txt");
}

TEST(Layering, TableReadsAndCoversEveryLibraryFolder)
{
    Table t = table();
    EXPECT_TRUE(t.errors.empty()) << joined(t.errors);
    for (const char *folder : {"app", "control", "ui", "calibration", "input", "device", "device/codec", "settings",
                               "platform", "sim", "resources"}) {
        const Layer *l = t.owner(std::string(folder) + "/x.cpp");
        EXPECT_TRUE(l) << folder << " belongs to no layer";
    }
    // The emulator reaches the host's code through these headers only (the
    // parallel loop is a header over OpenCV's, no code of the host).
    const Layer *sim = t.find("sim");
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->uses, (std::set<std::string>{"codec", "clock", "parallel", "device/UsbAccess.h",
                                                "calibration/CalibModel.h"}));
    EXPECT_EQ(t.owner("device/codec/Packet.h")->name, "codec");
    EXPECT_EQ(t.owner("platform/Clock.h")->name, "clock");
    EXPECT_EQ(t.owner("platform/ParallelFor.h")->name, "parallel");
    EXPECT_TRUE(t.find("parallel")->uses.empty());
    EXPECT_EQ(t.owner("app/main/main.cpp")->name, "main");
    // The platform's interfaces, its Linux backends and its fakes are three
    // libraries; below the main window nothing uses a backend or a fake, and
    // only the fakes' own layer may use the fakes.
    EXPECT_EQ(t.owner("platform/Screens.h")->name, "platform");
    EXPECT_EQ(t.owner("platform/linux/x.cpp")->name, "platform_linux");
    EXPECT_EQ(t.owner("platform/fake/x.cpp")->name, "platform_fake");
    for (const Layer &l : t.layers) {
        EXPECT_FALSE(l.name != "platform_fake" && l.uses.count("platform_fake")) << l.name << " uses the fakes";
        if (l.name != "app" && l.name != "main" && l.name != "platform_linux") {
            EXPECT_FALSE(l.uses.count("platform_linux")) << l.name << " uses the Linux backends";
        }
    }
}

TEST(Layering, EveryIncludeIsAnAllowedEdge)
{
    const Table t = table();
    ASSERT_TRUE(t.errors.empty()) << joined(t.errors);
    const std::vector<std::string> bad = includeViolations(t);
    EXPECT_TRUE(bad.empty()) << joined(bad);
    EXPECT_GT(sourceFiles(t).size(), 50u);   // the walk found the tree
}

TEST(Layering, EveryLinkIsAnAllowedEdge)
{
    const Table t = table();
    ASSERT_TRUE(t.errors.empty()) << joined(t.errors);
    const std::vector<std::string> bad = linkViolations(t);
    EXPECT_TRUE(bad.empty()) << joined(bad);
}

// The lines a command prints (its errors left out); none when it cannot run.
std::vector<std::string> outputLines(const std::string &command)
{
    std::vector<std::string> lines;
    FILE *pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return lines;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        lines.emplace_back(buffer);
    pclose(pipe);
    return lines;
}

// The global symbols a file (an executable or an archive) defines, by nm.
// Only strong ones: the inline functions and templates a fake instantiates
// (weak, in every object that uses them) are no code of the fake.
std::set<std::string> strongSymbols(const std::string &file)
{
    std::set<std::string> out;
    for (const std::string &text : outputLines(std::string(TL_NM) + " --defined-only --format=posix '" + file + "'")) {
        std::istringstream line(text);
        std::string name, type;
        if (!(line >> name >> type) || type.size() != 1)
            continue;   // an archive member's heading
        if (std::string("TDBRGS").find(type[0]) != std::string::npos)
            out.insert(name);
    }
    return out;
}

// What the driver defines of the fakes: empty for a driver that links none.
std::vector<std::string> fakeSymbolsIn(const std::string &binary, const std::string &fakes)
{
    const std::set<std::string> driver = strongSymbols(binary);
    std::vector<std::string> out;
    for (const std::string &s : strongSymbols(fakes))
        if (driver.count(s))
            out.push_back(s);
    return out;
}

TEST(Layering, TheDriverLinksNoFake)
{
    const std::set<std::string> fakes = strongSymbols(TL_FAKE_LIBRARY);
    const std::set<std::string> driver = strongSymbols(TL_DRIVER_BINARY);
    // Both were read: the fakes define code, the driver its Linux backends.
    ASSERT_FALSE(fakes.empty()) << TL_FAKE_LIBRARY;
    ASSERT_TRUE(std::any_of(driver.begin(), driver.end(), [](const std::string &s) {
        return s.find("LinuxSystemEvents") != std::string::npos;
    })) << TL_DRIVER_BINARY;
    const std::vector<std::string> found = fakeSymbolsIn(TL_DRIVER_BINARY, TL_FAKE_LIBRARY);
    EXPECT_TRUE(found.empty()) << "the driver holds code of the fakes:\n" << joined(found);
    // A binary made of the fakes is seen for what it is.
    EXPECT_EQ(fakeSymbolsIn(TL_FAKE_LIBRARY, TL_FAKE_LIBRARY).size(), fakes.size());
}

// OpenCV's own modules. Any other opencv_<module> comes from the contrib
// collection, whose one library drags a machine's worth of packages in.
bool openCvContrib(const std::string &module)
{
    static const std::set<std::string> main = { "core", "imgproc", "imgcodecs", "videoio", "highgui", "video",
                                                "calib3d", "features2d", "objdetect", "dnn", "ml", "flann",
                                                "photo", "stitching", "gapi" };
    return !main.count(module);
}

// The contrib modules named by `item`: a table or link-list name
// (opencv_aruco), a library file (/usr/lib/.../libopencv_aruco.so.406) or an
// objdump line "NEEDED libopencv_aruco.so.406".
std::vector<std::string> contribModulesIn(const std::string &item)
{
    std::vector<std::string> out;
    static const std::regex module(R"((?:^|[^A-Za-z0-9_])(?:lib)?opencv_([A-Za-z0-9]+))");
    for (auto it = std::sregex_iterator(item.begin(), item.end(), module); it != std::sregex_iterator(); ++it)
        if (openCvContrib((*it)[1]))
            out.push_back("opencv_" + (*it)[1].str());
    return out;
}

// The shared libraries a binary asks the loader for (objdump, binutils).
std::vector<std::string> neededLibraries(const std::string &binary)
{
    std::vector<std::string> out;
    for (const std::string &text : outputLines(std::string(TL_OBJDUMP) + " -p '" + binary + "'")) {
        std::istringstream line(text);
        std::string key, name;
        if (line >> key >> name && key == "NEEDED")
            out.push_back(name);
    }
    return out;
}

// No layer may use a module of OpenCV's contrib collection, no library links
// one, and the built driver does not load one.
TEST(Layering, NothingOfOpenCvContrib)
{
    const Table t = table();
    ASSERT_TRUE(t.errors.empty()) << joined(t.errors);
    std::vector<std::string> found;
    for (const Layer &l : t.layers)
        for (const std::string &e : l.ext)
            for (const std::string &m : contribModulesIn(e))
                found.push_back("cmake/layers.txt: layer " + l.name + " may use " + m);
    for (const Layer &l : t.layers) {
        if (l.target == "-")
            continue;
        std::ifstream in(kLinks / (l.target + ".txt"));
        std::string item;
        while (std::getline(in, item))
            for (const std::string &m : contribModulesIn(item))
                found.push_back(l.target + " links " + m + " (" + item + ")");
    }
    const std::vector<std::string> needed = neededLibraries(TL_DRIVER_BINARY);
    // The driver was read: it loads OpenCV's core.
    ASSERT_TRUE(std::any_of(needed.begin(), needed.end(), [](const std::string &n) {
        return n.rfind("libopencv_core.so", 0) == 0;
    })) << TL_DRIVER_BINARY << " needs:\n" << joined(needed);
    for (const std::string &n : needed)
        if (!contribModulesIn(n).empty())
            found.push_back(std::string(TL_DRIVER_BINARY) + " loads " + n);
    EXPECT_TRUE(found.empty()) << joined(found);

    // The check knows a contrib module from one of OpenCV's own in each form.
    EXPECT_EQ(contribModulesIn("opencv_aruco"), (std::vector<std::string>{ "opencv_aruco" }));
    EXPECT_EQ(contribModulesIn("/usr/lib/x86_64-linux-gnu/libopencv_ximgproc.so.4.6.0"),
              (std::vector<std::string>{ "opencv_ximgproc" }));
    EXPECT_EQ(contribModulesIn("libopencv_aruco.so.406"), (std::vector<std::string>{ "opencv_aruco" }));
    EXPECT_TRUE(contribModulesIn("opencv_imgproc").empty());
    EXPECT_TRUE(contribModulesIn("libopencv_core.so.406").empty());
    EXPECT_TRUE(contribModulesIn("PkgConfig::APRILTAG").empty());
}

// The checker itself: a wrong edge of each kind is found.
TEST(Layering, TheCheckSeesWrongEdges)
{
    Table t = table();
    ASSERT_TRUE(t.errors.empty()) << joined(t.errors);
    const Layer *device = t.find("device");
    const Layer *sim = t.find("sim");
    const Layer *codec = t.find("codec");
    ASSERT_TRUE(device && sim && codec);
    EXPECT_TRUE(allowedInclude(t, *device, "device/codec/Packet.h"));
    EXPECT_FALSE(allowedInclude(t, *device, "control/nqmaincontrol.h"));     // upwards
    EXPECT_FALSE(allowedInclude(t, *codec, "device/CamDevCtrl.h"));          // out of the codec
    EXPECT_TRUE(allowedInclude(t, *sim, "device/UsbAccess.h"));
    EXPECT_FALSE(allowedInclude(t, *sim, "device/CamDevCtrl.h"));            // the protocol class
    EXPECT_FALSE(allowedInclude(t, *sim, "platform/Screens.h"));
    EXPECT_TRUE(allowedInclude(t, *sim, "platform/Clock.h"));
    EXPECT_EQ(externalOf("QDialog"), "Qt5::Widgets");
    EXPECT_EQ(externalOf("QString"), "Qt5::Core");
    EXPECT_EQ(externalOf("opencv2/imgproc.hpp"), "opencv_imgproc");
    EXPECT_EQ(externalOf("libusb.h"), "libusb");
    EXPECT_EQ(externalOf("xcb/xcb_keysyms.h"), "xcb");
    EXPECT_EQ(externalOf("X11/ICE/ICElib.h"), "PkgConfig::ICE");
    EXPECT_EQ(externalOf("apriltag/tag16h5.h"), "PkgConfig::APRILTAG");
    EXPECT_EQ(externalOf("QX11Info"), "Qt5::X11Extras");
    EXPECT_EQ(externalOf("vector"), "");
    EXPECT_FALSE(codec->ext.count("Qt5::Core"));
}

} // namespace
