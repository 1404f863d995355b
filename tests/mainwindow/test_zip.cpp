#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "common/TempDir.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "mainwindow/Backup.h"
#include "mainwindow/U_ZipUtil.h"
#include "tests/mainwindow/RecordingSink.h"
#include "tests/mainwindow/ZipTestUtil.h"

using namespace brenvo;
namespace fs = std::filesystem;

namespace {

void Put(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    Spit(path, content);
}

// Names listed by "unzip -l".
std::set<std::string> UnzipList(const std::string& zip) {
    int status = -1;
    std::string out = RunCommand("/usr/bin/unzip -Z1 '" + zip + "'", &status);
    EXPECT_EQ(status, 0) << out;
    std::set<std::string> names;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.insert(line);
    // the listing that "unzip -l" shows holds the same names
    std::string listing = RunCommand("/usr/bin/unzip -l '" + zip + "'", &status);
    EXPECT_EQ(status, 0);
    for (const auto& n : names) EXPECT_NE(listing.find(n), std::string::npos) << n;
    return names;
}

void ExpectUnzipTestPasses(const std::string& zip) {
    int status = -1;
    std::string out = RunCommand("/usr/bin/unzip -t '" + zip + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
}

std::vector<std::string> Tree(const std::string& dir) {
    std::vector<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(dir)) all.push_back(e.path().lexically_relative(dir).string());
    std::sort(all.begin(), all.end());
    return all;
}

struct BackupFixture : ::testing::Test {
    TempDir tmp;
    std::string root = tmp.file("prog");
    BackupSources sources;

    void SetUp() override {
        Put(root + "/Stammdaten/KT_BASE.XML", std::string(1500, 'k'));
        Put(root + "/Stammdaten/brenvo.XML", "<settings/>");
        Put(root + "/Stammdaten/alt/KT_BASE.XML", "old copy");
        Put(root + "/ArchivR/R1.xml", "r");
        Put(root + "/ArchivR/2013/R0.xml", "r0");
        Put(root + "/ArchivA/A1.AUF", std::string(600, 'a'));
        Put(root + "/import/neu.xml", "i");
        Put(root + "/export/A1.AUF", "e");
        Put(root + "/export/108018007/A1.AUF", "per-recipient copy");
        Put(root + "/eingabe/77.xml", "in");
        Put(root + "/temp/scratch", "t");
        Put(root + "/Logs/20140302_090503007.log", "l");
        Put(root + "/brenvo.ini", "Letzte_KT_IK=1");
        sources.programDir = root;
        sources.importDir = root + "/import";
        sources.exportDir = root + "/export";
        sources.eingabeDir = root + "/eingabe";
    }
    void TearDown() override { SetFixedNow(std::nullopt); }
};

} // namespace

TEST_F(BackupFixture, HoldsExactlyTheFilesDirectlyInTheSixDirectories) {
    SetFixedNow(EncodeDateTime(2014, 3, 2, 9, 5, 3));
    RecordingSink sink;
    std::string backupDir = root + "/Datensicherung";  // not there yet: made by the backup
    std::string name = CreateBackup(sources, backupDir, sink);

    EXPECT_EQ(name, backupDir + "/20140302-090503.zip");
    ExpectUnzipTestPasses(name);
    EXPECT_EQ(UnzipList(name),
              (std::set<std::string>{"Stammdaten/KT_BASE.XML", "Stammdaten/brenvo.XML", "ArchivR/R1.xml",
                                     "ArchivA/A1.AUF", "import/neu.xml", "export/A1.AUF", "eingabe/77.xml"}));
    EXPECT_EQ(Tree(backupDir), std::vector<std::string>{"20140302-090503.zip"});  // no temporary file left

    ASSERT_GE(sink.log.size(), 4u);
    EXPECT_EQ(sink.log.front(), "Datensicherung beginnt");
    EXPECT_TRUE(sink.Logged("Datensicherung startet. "));
    EXPECT_EQ(sink.log[sink.log.size() - 2], "Datensicherung fertig.");
    EXPECT_EQ(sink.log.back(), "Datensicherung beendet " + name);
    // the last counted step before the end of the batch: all 7 files, 2113 bytes
    const auto& end = sink.progress.back();
    EXPECT_EQ(end.position, 100);
    EXPECT_EQ(end.maximum, 100);
    EXPECT_TRUE(end.log);
    const auto& last = sink.progress[sink.progress.size() - 2];
    EXPECT_EQ(last.text, "Datensicherung Dateien: 0007 / 0007 Datenmenge: 0002 / 0002 kB");
    EXPECT_EQ(last.position, 7);
    EXPECT_EQ(last.maximum, 7);
    EXPECT_FALSE(last.log);
    EXPECT_EQ(sink.progress.front().text, "Datensicherung Dateien: 0000 / 0007 Datenmenge: 0000 / 0000 kB");
}

TEST_F(BackupFixture, InboxOutsideTheProgramDirectoryIsStoredByItsFullPathAndEachFileOnce) {
    Put(tmp.file("inbox/fremd.xml"), "x");
    sources.importDir = tmp.file("inbox");
    sources.eingabeDir = root + "/export";  // the same directory twice
    RecordingSink sink;
    std::string name = CreateBackup(sources, tmp.file("sik"), sink);
    ExpectUnzipTestPasses(name);
    std::set<std::string> names = UnzipList(name);
    std::string inboxEntry = tmp.file("inbox/fremd.xml").substr(1);
    EXPECT_TRUE(names.count(inboxEntry)) << inboxEntry;
    EXPECT_EQ(names.count("export/A1.AUF"), 1u);
    EXPECT_EQ(names.size(), 6u);
    for (const auto& n : names) EXPECT_NE(n.front(), '/');
}

TEST_F(BackupFixture, FailureIsReportedAndLeavesNoArchive) {
    Put(tmp.file("blocked"), "a file where the backup directory should be");
    RecordingSink sink;
    try {
        CreateBackup(sources, tmp.file("blocked/sik"), sink);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Datensicherung fehlgeschlagen: ", 0), 0u) << e.what();
    }
    EXPECT_FALSE(sink.Logged("Datensicherung fertig."));

    // a progress handler that fails while the archive is written leaves no
    // archive (and no temporary file) behind
    std::string zip = tmp.file("out.zip");
    EXPECT_THROW(ZipFiles(zip, root, {"Stammdaten/*.*"},
                          [](ZipEvent ev, int64_t, const std::string&) {
                              if (ev == ZipEvent::BytesDone) throw Error("Abbruch");
                          }),
                 Error);
    EXPECT_FALSE(fs::exists(zip));
    for (const auto& e : fs::directory_iterator(tmp.path())) EXPECT_EQ(e.path().string().find("out.zip"), std::string::npos);
}

TEST(ZipUtilTest, UnpacksDirectoriesOverwritesFilesAndKeepsTimesAndModes) {
    TempDir tmp;
    std::string src = tmp.file("src");
    fs::create_directories(src + "/Stammdaten/sub");
    Spit(src + "/Stammdaten/KT_BASE.XML", "new base");
    Spit(src + "/Stammdaten/sub/deep.xtr", std::string(70000, 'd'));
    Spit(src + "/brenvo", "#!/bin/sh\n");
    fs::permissions(src + "/brenvo", fs::perms(0755));
    time_t t = 1400000000;  // an even second: the zip format keeps 2-second steps
    for (const char* f : {"/Stammdaten/KT_BASE.XML", "/Stammdaten/sub/deep.xtr", "/brenvo"})
        SetFileLastWriteTime(src + f, FromTimeT(t));

    std::string zip = tmp.file("u.zip");
    EXPECT_EQ(ZipFiles(zip, src, {"Stammdaten/*.*", "Stammdaten/sub/*.xtr", src + "/*"}, {}), 3);
    ExpectUnzipTestPasses(zip);

    std::string dst = tmp.file("dst");
    fs::create_directories(dst + "/Stammdaten");
    Spit(dst + "/Stammdaten/KT_BASE.XML", "old base that is longer");
    Spit(dst + "/Stammdaten/other.xml", "stays");

    RecordingSink sink;
    ZipProgressCounter counter(ZipProgressCounter::Kind::Unpack, sink);
    EXPECT_EQ(UnzipAll(zip, dst, counter.Handler()), 3);

    EXPECT_EQ(Slurp(dst + "/Stammdaten/KT_BASE.XML"), "new base");
    EXPECT_EQ(Slurp(dst + "/Stammdaten/sub/deep.xtr"), std::string(70000, 'd'));
    EXPECT_EQ(Slurp(dst + "/Stammdaten/other.xml"), "stays");
    EXPECT_EQ(MTime(dst + "/Stammdaten/sub/deep.xtr"), t);
    EXPECT_EQ(MTime(dst + "/brenvo"), t);
    EXPECT_EQ(fs::status(dst + "/brenvo").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_EQ(Tree(dst), (std::vector<std::string>{"Stammdaten", "Stammdaten/KT_BASE.XML", "Stammdaten/other.xml",
                                                   "Stammdaten/sub", "Stammdaten/sub/deep.xtr", "brenvo"}));

    EXPECT_EQ(counter.FilesDone(), 3);
    EXPECT_EQ(counter.BytesDone(), 8 + 70000 + 10);
    EXPECT_TRUE(sink.Logged("Entpacken startet. "));
    EXPECT_EQ(sink.progress.back().text, "Entpacken fertig.");
    EXPECT_EQ(sink.progress[sink.progress.size() - 2].text, "Entpacke Dateien : 0003 / 0003 Daten : 70018 / 70018 ");
    EXPECT_EQ(sink.progress.front().text, "Entpacke Dateien : 0000 / 0003 Daten : 0000 / 0000 ");
}

TEST(ZipUtilTest, UnpacksArchivesOfTheStandardZipTool) {
    TempDir tmp;
    fs::create_directories(tmp.file("in/a/b"));
    Spit(tmp.file("in/a/b/c.txt"), "c");
    Spit(tmp.file("in/top.txt"), "top");
    int status = -1;
    RunCommand("cd '" + tmp.file("in") + "' && /usr/bin/zip -qr '" + tmp.file("std.zip") + "' a top.txt", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(UnzipAll(tmp.file("std.zip"), tmp.file("out"), {}), 2);
    EXPECT_EQ(Slurp(tmp.file("out/a/b/c.txt")), "c");
    EXPECT_EQ(Slurp(tmp.file("out/top.txt")), "top");

    // an archive without files is still a valid archive
    EXPECT_EQ(ZipFiles(tmp.file("empty.zip"), tmp.path(), {"nowhere/*.*"}, {}), 0);
    EXPECT_EQ(UnzipAll(tmp.file("empty.zip"), tmp.file("out2"), {}), 0);
}

TEST(ZipUtilTest, RefusesEntriesLeadingOutOfTheTargetAndWritesNothing) {
    const std::vector<std::pair<TestEntry, std::string>> bad = {
        {{"../x", "evil"}, "führt aus dem Zielverzeichnis heraus"},
        {{"sub/../../x", "evil"}, "führt aus dem Zielverzeichnis heraus"},
        {{"..\\x", "evil"}, "führt aus dem Zielverzeichnis heraus"},
        {{"/abs", "evil"}, "absoluten Pfad"},
        {{"C:/abs", "evil"}, "absoluten Pfad"},
        {{"link", "/etc", 0, 0120777}, "symbolischer Link"},
    };
    for (const auto& [entry, why] : bad) {
        TempDir tmp;
        std::string target = tmp.file("target");
        fs::create_directories(target);
        Spit(target + "/keep.xml", "original");
        std::string zip = tmp.file("slip.zip");
        // a harmless entry first: it must not be written either
        MakeZip(zip, {{"good.xml", "good"}, {"keep.xml", "overwritten"}, entry});
        try {
            UnzipAll(zip, target, {});
            ADD_FAILURE() << entry.name << " was unpacked";
        } catch (const Error& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find("abgelehnt, nichts entpackt"), std::string::npos) << msg;
            EXPECT_NE(msg.find(why), std::string::npos) << msg;
        }
        EXPECT_EQ(Tree(tmp.path()), (std::vector<std::string>{"slip.zip", "target", "target/keep.xml"})) << entry.name;
        EXPECT_EQ(Slurp(target + "/keep.xml"), "original");
    }
}

TEST(ZipUtilTest, RefusesTargetPathsThroughExistingLinks) {
    TempDir tmp;
    std::string target = tmp.file("target");
    fs::create_directories(target);
    fs::create_directories(tmp.file("outside"));
    Spit(tmp.file("outside/file"), "outside");
    fs::create_directory_symlink(tmp.file("outside"), target + "/dirlink");
    fs::create_symlink(tmp.file("outside/file"), target + "/filelink");

    MakeZip(tmp.file("a.zip"), {{"ok.txt", "ok"}, {"dirlink/new.txt", "evil"}});
    MakeZip(tmp.file("b.zip"), {{"ok.txt", "ok"}, {"filelink", "evil"}});
    for (const char* zip : {"a.zip", "b.zip"}) {
        try {
            UnzipAll(tmp.file(zip), target, {});
            ADD_FAILURE() << zip << " was unpacked";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("symbolischen Link"), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(target + "/ok.txt"));
    EXPECT_FALSE(fs::exists(tmp.file("outside/new.txt")));
    EXPECT_EQ(Slurp(tmp.file("outside/file")), "outside");
}

TEST(ZipUtilTest, DamagedArchiveWritesNothing) {
    TempDir tmp;
    std::string zip = tmp.file("bad.zip");
    MakeZip(zip, {{"first.xml", "FIRST-CONTENT", 0, 0, true}, {"second.xml", "SECOND-CONTENT", 0, 0, true}});
    std::string bytes = Slurp(zip);
    size_t at = bytes.find("SECOND-CONTENT");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'X';  // the checksum no longer fits
    Spit(zip, bytes);

    std::string target = tmp.file("target");
    fs::create_directories(target);
    Spit(target + "/first.xml", "old");
    try {
        UnzipAll(zip, target, {});
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("beschädigt"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Tree(target), std::vector<std::string>{"first.xml"});
    EXPECT_EQ(Slurp(target + "/first.xml"), "old");
    EXPECT_THROW(UnzipAll(tmp.file("missing.zip"), target, {}), Error);
}
